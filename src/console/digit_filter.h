#pragma once
// Edits that take digits only, however the text comes: a key, a paste or a drop that would
// put anything else in the field is refused. Text the program sets is left as it is.

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
