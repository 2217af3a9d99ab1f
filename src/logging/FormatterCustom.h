#pragma once
// The program's line format: the level name, ": ", the text and CR LF,
// without file name or line number.
#include "logging/FormatterMSVC.h"

class FormatterCustom : public logging::FormatterMSVC {
public:
    unsigned SelectFields(const logging::Topic& topic) const override;
};
