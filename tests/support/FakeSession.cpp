#include "support/FakeSession.h"

#include <algorithm>

namespace gemvolt::testing {

int FakeSession::count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

void FakeSession::record(const std::string& call) {
    calls.push_back(call);
    if (onCall)
        onCall(call);
}

} // namespace gemvolt::testing
