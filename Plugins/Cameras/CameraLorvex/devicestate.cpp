// The device's transition table as data (devicestate.h draws it).
#include "devicestate.h"

namespace {

using S = DeviceState;

struct Move {
    S from;
    S to;
};

constexpr Move kMoves[] = {
    {S::Closed, S::Opening},  {S::Lost, S::Opening},     {S::Lost, S::Closed},
    {S::Opening, S::Open},    {S::Opening, S::Lost},     {S::Open, S::Grabbing},
    {S::Open, S::Closing},    {S::Grabbing, S::Closing},
    {S::Closing, S::Closed},  {S::Closing, S::Lost},
};

} // namespace

bool transitionAllowed(DeviceState from, DeviceState to)
{
    for (const Move& move : kMoves)
        if (move.from == from && move.to == to)
            return true;
    return false;
}

const char* stateName(DeviceState state)
{
    switch (state) {
    case S::Closed: return "closed";
    case S::Opening: return "opening";
    case S::Open: return "open";
    case S::Grabbing: return "grabbing";
    case S::Closing: return "closing";
    case S::Lost: return "lost";
    }
    return "?";
}
