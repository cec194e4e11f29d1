// Placeholder results until the processing functions land.
#include "interface/nadixq.h"

NADIXQ_API int NADIXQ_CALL FindZPD(double*, int, int, int, int) { return -3; }
NADIXQ_API int NADIXQ_CALL BaselineCorrectIfg(double*, int, int) { return 1; }
NADIXQ_API int NADIXQ_CALL GaussianApodize(double*, int, double) { return 0; }
