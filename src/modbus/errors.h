#pragma once
// Error codes of an exchange and their texts. 0 is good, 1..5 are the device's own
// exception codes, 6..14 the console's; a device exception above 14 keeps its number.

#include <array>
#include <cstdint>
#include <string>

namespace varnok {

enum ErrorCode : uint8_t {
    kOk = 0,
    kIllegalFunction = 1,
    kIllegalAddress = 2,
    kIllegalValue = 3,
    kDeviceFailure = 4,
    kBusy = 5,
    kBadCrc = 6,
    kWrongAddress = 7,
    kBadFormat = 8,
    kWrongFunction = 9,
    kTimeout = 10,
    kNoAnswer = 11,
    kInterrupted = 12,
    kConvertPercent = 13,
    kConvertTe = 14,
};

inline constexpr std::array<const char*, 15> err_text = {
    "\"ОК: нет ошибок\" ",
    " \"недопустимая функция \" ",
    " \"недопустимый адрес \"",
    " \"недопустимое значение\"",
    " \"специфическая ошибка\"",
    " занят, отвечу позже",
    " неверная контрольная сумма ",
    " неверный системный номер",
    " неверный формат ответа adr|kol",
    " неверная функция в ответе",
    " ошибка таймаута",
    " не дождались ответа",
    " прервали ",
    " ошибка преобразования % ",
    " ошибка преобразования ТЕ ",
};

// err_text[err]; a code beyond the table (a device exception above 14) names its number.
std::string buf_error(uint8_t err);

}  // namespace varnok
