#pragma once
// Edits that take digits only. Typed, pasted or dropped text keeps its digits; the rest of
// it is dropped.

#include <QValidator>

class QLineEdit;

namespace varnok {

class DigitFilter : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;

    // Lets `edit` take digits only; the filter lives as long as the edit.
    static void install(QLineEdit* edit);
};

}  // namespace varnok
