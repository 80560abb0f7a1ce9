// The wording of a self-test check line.
#include "diag/self_test.h"

namespace mw {

std::wstring CheckLineText(bool passed, const std::wstring& label, const std::wstring& detail) {
    std::wstring line = (passed ? L"[ OK ] " : L"[FAIL] ") + label;
    if (!detail.empty()) line += L" \u2014 " + detail;
    return line;
}

}  // namespace mw
