"""The binding's result codes and texts against the library's own: the codes
and point counts of nadixq.h, and the board results' table that the
acquisition command builds in."""

import os
import re
import unittest

import nadixq
from nadixq import errors

HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "src", "interface", "nadixq.h")

CSHARP = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(HEADER))),
                      "bindings", "csharp", "Nadixq.cs")

# ErrorCode members that are no library result of their own: the binding
# makes TIMEOUT, and FILE_NOT_FOUND is one system error among all the others.
NOT_IN_HEADER = {"TIMEOUT", "FILE_NOT_FOUND"}


def header_results():
    """The result codes of nadixq.h by name (without NADIXQ_), as unsigned
    32-bit values, and its point counts (MAX_POINTS, FINEST_POINTS)."""
    with open(HEADER, encoding="utf-8") as header:
        text = header.read()
    found = {}
    for name, value in re.findall(r"^#define NADIXQ_(\w+) (.+)$", text, re.MULTILINE):
        if name in ("H", "CALL", "API") or name.startswith("STATUS_") or "(" in name:
            continue
        number = re.search(r"(-?)(0x[0-9A-Fa-f]+|\d+)u?\)*$", value)
        if number is None:
            continue  # a function-like macro
        found[name] = (int(number.group(1) + number.group(2), 0)) & 0xFFFFFFFF
    return found


@unittest.skipUnless(os.path.isfile(HEADER), "not run from the source tree")
class ResultCodes(unittest.TestCase):
    def test_every_error_code_is_the_header_result_of_its_name(self):
        results = header_results()
        self.assertIn("NO_BOARD_CLASS", results)
        for code in nadixq.ErrorCode:
            if code.name in NOT_IN_HEADER:
                self.assertNotIn(code.name, results)
                continue
            self.assertIn(code.name, results)
            self.assertEqual(results[code.name], code & 0xFFFFFFFF, code.name)
        self.assertEqual(set(results) - {"MAX_POINTS", "FINEST_POINTS"},
                         {code.name for code in nadixq.ErrorCode} - NOT_IN_HEADER)

    def test_the_point_counts_are_the_header_ones(self):
        results = header_results()
        self.assertEqual(nadixq.instrument.FINEST_POINTS_ASKED, results["MAX_POINTS"])
        self.assertEqual(nadixq.instrument.FINEST_POINTS_HELD, results["FINEST_POINTS"])


class BoardResultTexts(unittest.TestCase):
    def test_each_board_result_is_described_the_same_in_every_step(self):
        self.assertEqual(len(errors._BOARD_RESULTS), 10)
        for code, text in errors._BOARD_RESULTS.items():
            self.assertEqual(errors.describe("calibrate", code), "calibration: " + text)
            self.assertEqual(errors.describe("fiber", code), "fiber link: " + text)
        self.assertEqual(str(nadixq.NadixqError("calibrate", nadixq.ErrorCode.CALIBRATION_ERROR_2)),
                         "calibration: the calibration failed with error 2 (0x80070008)")

    @unittest.skipUnless(os.path.isfile(CSHARP), "not run from the source tree")
    def test_the_csharp_binding_describes_them_as_the_table_does(self):
        with open(CSHARP, encoding="utf-8") as source:
            text = source.read()
        body = text[text.index("string BoardText(int code)"):]
        body = body[:body.index("default:")]
        described, pending = {}, []
        for code, said in re.findall(r'case (0x[0-9A-Fa-f]+):(?: return "([^"]*)";)?', body):
            pending.append(int(code, 16))
            if said:
                described.update((each, said) for each in pending)
                pending = []
        self.assertEqual(described,
                         {code & 0xFFFFFFFF: said for code, said in errors._BOARD_RESULTS.items()})

    def test_out_of_memory_is_not_read_as_a_calibration_error(self):
        self.assertEqual(str(nadixq.NadixqError("open", 0x8007000E, model=1)),
                         "opening model 1 failed: out of memory (0x8007000E)")
        self.assertEqual(str(nadixq.NadixqError("stream", 0x8007000E, path="run.spc")),
                         "cannot create the stream file run.spc: out of memory (0x8007000E)")


if __name__ == "__main__":
    unittest.main()
