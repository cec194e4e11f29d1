// The host's processing calls. They keep no state and take no lock, so any
// thread may call them at any time, also during a run. The work is done by the
// functions of namespace nadixq, which the library's own code calls directly.
#include "interface/nadixq.h"
#include "processing/baseline_correction.h"
#include "processing/gaussian_apodization.h"
#include "processing/zpd_search.h"

NADIXQ_API int NADIXQ_CALL FindZPD(double* ifg, int pts, int hint, int start, int end) {
    return nadixq::FindZPD(ifg, pts, hint, start, end);
}

NADIXQ_API int NADIXQ_CALL BaselineCorrectIfg(double* ifg, int pts, int mode) {
    return nadixq::BaselineCorrectIfg(ifg, pts, mode);
}

NADIXQ_API int NADIXQ_CALL GaussianApodize(double* ifg, int pts, double width) {
    return nadixq::GaussianApodize(ifg, pts, width);
}
