#include "Common/NumberField.h"

#include "Common/NumberText.h"

namespace gemvolt::common {

NumberField NumberField::number(std::int64_t value) {
    return NumberField(toNumberText(value));
}

NumberField NumberField::id(std::int64_t value) {
    return NumberField(toIdText(value));
}

std::int64_t NumberField::value() const {
    return numberValue(m_text);
}

std::int32_t NumberField::value32() const {
    return numberValue32(m_text);
}

} // namespace gemvolt::common
