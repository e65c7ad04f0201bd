// The curve file reader on arbitrary bytes: it must never fault, an accepted file holds only values
// within the curve's limits, and what the writer makes of it reads back to the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/logic/eq_curve.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tunefold::TEqCurve curve{};
    curve.fill(7.0L);
    const tunefold::TEqCurve before = curve;
    if (!tunefold::ParseEqCurve(text, curve)) {
        if (curve != before) {
            std::abort(); // a rejected file changed the curve
        }
        return 0;
    }
    for (long double v : curve) {
        if (!(v >= -tunefold::EqCurveLimit && v <= tunefold::EqCurveLimit)) {
            std::abort();
        }
    }
    const std::string written = tunefold::EqCurveText(curve);
    if (written.size() != 120 * 25) {
        std::abort();
    }
    tunefold::TEqCurve again{};
    if (!tunefold::ParseEqCurve(written, again) || tunefold::EqCurveText(again) != written) {
        std::abort();
    }
    return 0;
}
