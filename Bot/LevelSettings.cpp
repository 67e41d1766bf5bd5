#include "Bot/LevelSettings.h"

namespace gemvolt::bot {

LevelSettings LevelSettings::forLevel(Level level) {
    LevelSettings s;
    s.Which = level;
    EvaluationWeights& w = s.Weights;
    switch (level) {
    case Level::Easy:
        // A slow beginner: keeps its stack low and column 3 free, barely
        // notices colours, and misjudges now and then.
        s.ThinkMs = 700;
        s.KeyDelayMs = 350;
        s.LookAhead = false;
        s.Noise = 2;
        w.Attack = 3;
        w.Destroyed = 0.5;
        w.Height = 0.6;
        w.MaxHeight = 1;
        w.EntryDanger = 6;
        break;
    case Level::Normal:
        // At a person's pace the pairs come quickly: seeing the next one is
        // what keeps a fast board from filling up.
        s.ThinkMs = 400;
        s.KeyDelayMs = 200;
        s.LookAhead = true;
        s.Noise = 0.5;
        w.Attack = 4;
        w.Destroyed = 1;
        w.Height = 0.5;
        w.MaxHeight = 1;
        w.Bumpiness = 0.3;
        w.Holes = 2;
        w.Groups = 0.8;
        w.CrashNear = 1.2;
        w.BuriedCrash = 0.6;
        w.EntryDanger = 10;
        w.Pending = 0.3;
        break;
    case Level::Hard:
        s.ThinkMs = 250;
        s.KeyDelayMs = 120;
        s.LookAhead = true;
        s.Noise = 0;
        w.Attack = 5;
        w.Destroyed = 1.2;
        w.Height = 0.5;
        w.MaxHeight = 1.2;
        w.Bumpiness = 0.35;
        w.Holes = 2;
        w.Groups = 1;
        w.CrashNear = 1.5;
        w.BuriedCrash = 0.8;
        w.EntryDanger = 12;
        w.Pending = 0.4;
        break;
    }
    return s;
}

std::optional<Level> parseLevel(std::string_view text) {
    if (text == "easy")
        return Level::Easy;
    if (text == "normal")
        return Level::Normal;
    if (text == "hard")
        return Level::Hard;
    return std::nullopt;
}

std::string levelName(Level level) {
    switch (level) {
    case Level::Easy:
        return "easy";
    case Level::Normal:
        return "normal";
    case Level::Hard:
        return "hard";
    }
    return "normal";
}

} // namespace gemvolt::bot
