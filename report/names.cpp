// The words and the looks that name outcomes and events throughout the report.
#include "report/reportData.h"
#include "report/sections.h"

namespace report {

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::pass:
        return "pass";
    case Outcome::fail:
        return "fail";
    case Outcome::inconclusive:
        return "inconclusive";
    case Outcome::error:
        return "error";
    case Outcome::interrupted:
        return "interrupted";
    }
    return "error";
}

const char* checkResultName(CheckResult result) {
    switch (result) {
    case CheckResult::pass:
        return "pass";
    case CheckResult::fail:
        return "fail";
    case CheckResult::warn:
        return "warn";
    case CheckResult::skip:
        return "skip";
    }
    return "fail";
}

const char* eventKindName(EventKind kind) {
    switch (kind) {
    case EventKind::gap:
        return "gap";
    case EventKind::repeat:
        return "repeat";
    case EventKind::backwardStep:
        return "backward-step";
    case EventKind::shortStep:
        return "short-step";
    case EventKind::halfError:
        return "half-error";
    case EventKind::lateSwitch:
        return "late-switch";
    case EventKind::hostLoss:
        return "host-loss";
    case EventKind::positionRebase:
        return "position-rebase";
    case EventKind::machineStall:
        return "machine-stall";
    }
    return "gap";
}

std::optional<EventKind> eventKindNamed(const std::string& name) {
    for (size_t k = 0; k < eventKindCount; ++k)
        if (name == eventKindName(EventKind(k))) return EventKind(k);
    return std::nullopt;
}

const char* eventKindLabel(EventKind kind) {
    switch (kind) {
    case EventKind::gap:
        return "gap";
    case EventKind::repeat:
        return "repeat";
    case EventKind::backwardStep:
        return "backward step";
    case EventKind::shortStep:
        return "short step";
    case EventKind::halfError:
        return "half error";
    case EventKind::lateSwitch:
        return "late switch";
    case EventKind::hostLoss:
        return "host loss";
    case EventKind::positionRebase:
        return "position re-base";
    case EventKind::machineStall:
        return "machine stall";
    }
    return "event";
}

std::string countedEvents(uint64_t count, EventKind kind) {
    std::string label = eventKindLabel(kind);
    if (count != 1) {
        if (kind == EventKind::lateSwitch)
            label += "es";
        else if (kind == EventKind::hostLoss)
            label += "es";
        else
            label += "s";
    }
    return std::to_string(count) + " " + label;
}

// Every kind has its own pair of colour and shape.
Colour eventColour(EventKind kind) {
    switch (kind) {
    case EventKind::gap:
        return Colour::vermillion;
    case EventKind::repeat:
        return Colour::orange;
    case EventKind::backwardStep:
        return Colour::purple;
    case EventKind::shortStep:
        return Colour::skyBlue;
    case EventKind::halfError:
        return Colour::black;
    case EventKind::lateSwitch:
        return Colour::blue;
    case EventKind::hostLoss:
        return Colour::green;
    case EventKind::positionRebase:
        return Colour::orange;
    case EventKind::machineStall:
        return Colour::black;
    }
    return Colour::black;
}

Shape eventShape(EventKind kind) {
    switch (kind) {
    case EventKind::gap:
        return Shape::triangleDown;
    case EventKind::repeat:
        return Shape::square;
    case EventKind::backwardStep:
        return Shape::diamond;
    case EventKind::shortStep:
        return Shape::triangle;
    case EventKind::halfError:
        return Shape::cross;
    case EventKind::lateSwitch:
        return Shape::circle;
    case EventKind::hostLoss:
        return Shape::plus;
    case EventKind::positionRebase:
        return Shape::star;
    case EventKind::machineStall:
        return Shape::diamond;
    }
    return Shape::circle;
}

} // namespace report
