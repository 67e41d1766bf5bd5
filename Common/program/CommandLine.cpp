#include "Common/program/CommandLine.h"

namespace gemvolt::program {

QString optionAsTyped(const QStringList& arguments, const QString& name) {
    for (const QString& argument : arguments) {
        QString bare = argument.section(QLatin1Char('='), 0, 0);
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (argument.startsWith(QLatin1Char('-')) && bare == name)
            return argument.section(QLatin1Char('='), 0, 0);
    }
    return name;
}

} // namespace gemvolt::program
