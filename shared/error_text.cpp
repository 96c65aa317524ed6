#include "shared/error_text.h"

namespace corvale {

namespace {
std::function<void()>& pointerReset() {
    static std::function<void()> reset;
    return reset;
}
} // namespace

void setPointerReset(std::function<void()> reset) {
    pointerReset() = std::move(reset);
}

std::string he(const std::exception& failure) {
    if (pointerReset()) {
        pointerReset()();
    }
    return failure.what();
}

} // namespace corvale
