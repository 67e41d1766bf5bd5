#pragma once

#include <QString>
#include <QStringList>

namespace gemvolt::program {

/**
 * An unknown option as the user typed it ("-players", "--colour"), for the
 * message that rejects it: the command-line parser names it without its dashes
 * and value. `name` is such a bare name; `arguments` what was typed (a program
 * name among them does no harm). The bare name itself when no argument matches.
 */
QString optionAsTyped(const QStringList& arguments, const QString& name);

} // namespace gemvolt::program
