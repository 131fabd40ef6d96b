#pragma once

#include <QString>
#include <string>

namespace zemlix {

// Where the program talks to a person (the views, the panel, hints, the status bar, the
// chart, NN.log) numbers carry the user's decimal separator; everything written for other
// programs (world files, CSV, SVG, journals, TOML) keeps a point whatever the desktop's
// language.

// Takes the user's locale for the C library from the environment, except LC_NUMERIC, which
// stays "C": the exchange formats are printf-formatted and must not follow the desktop.
void AdoptUserLocale();

// The user's decimal separator (QLocale()'s, so a test can set another default).
QString UserDecimalSeparator();

// A number written with a decimal point (FormatFixed, printf in the C locale) as the user
// reads it: the point replaced by their separator, nothing else changed.
QString ForPerson(const std::string& pointText);
QString ForPerson(const QString& pointText);

}  // namespace zemlix
