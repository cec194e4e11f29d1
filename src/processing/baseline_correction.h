// Removal of an interferogram's offset before the ZPD search and the
// transform: either its mean or a straight line through the means of its ends.
#pragma once

namespace nadixq {

// Points averaged at each end for the linear baseline.
constexpr int kBaselineEndWindow = 32;

// Corrects ifg[0..pts-1] in place. A non-zero mode removes the mean; mode 0
// removes the line from the mean of the first kBaselineEndWindow points (at
// index 0) to the mean of the last ones (at index pts - 1). Returns 1, or 0
// with the array untouched when ifg is null, pts < 1, or mode 0 has fewer
// than kBaselineEndWindow points (its end windows would leave the array).
int BaselineCorrectIfg(double* ifg, int pts, int mode) noexcept;

}  // namespace nadixq
