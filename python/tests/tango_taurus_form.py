"""Shows the Taurus form (the panel `taurus form MODEL...` opens) of the
attributes given on the command line, and once every row has read its value
prints each row's model and shown text, saves a picture of the form to the
first argument and quits. Run under an X server (Xvfb)."""

import sys

from taurus.external.qt import Qt
from taurus.qt.qtgui.application import TaurusApplication
from taurus.qt.qtgui.panel import TaurusForm

SETTLE_MS = 3000


def main(picture, models):
    app = TaurusApplication(sys.argv[:1], cmd_line_parser=None)
    form = TaurusForm()
    form.setModel(models)
    form.resize(560, 40 + 31 * len(models))
    form.show()

    def report():
        form.grab().save(picture)
        for item in form.getItems():
            shown = item.readWidget()
            text = shown.text() if hasattr(shown, "text") else type(shown).__name__
            print("%s\t%s" % (item.getModel(), text), flush=True)
        app.quit()

    Qt.QTimer.singleShot(SETTLE_MS, report)
    return app.exec_()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
