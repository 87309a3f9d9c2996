#include "conform/checkContext.h"

#include "conform/texts.h"

namespace conform {

int32_t CheckContext::create(DriverSession& session) {
    const int32_t status = session.create();
    if (status == 0)
        created = true;
    else if (createStatus == 0)
        createStatus = status;
    return status;
}

bool CheckContext::init(DriverSession& session) {
    if (!session.init()) {
        initRefused = true;
        return false;
    }
    initialised = true;
    if (driverName.empty()) {
        driverName = driverText(session.driverName());
        driverVersion = session.driverVersion();
    }
    return true;
}

bool CheckContext::open(DriverSession& session, Outcome& failure) {
    if (create(session) != 0) {
        failure = failed("the driver could not be created: " + hexText(static_cast<uint32_t>(createStatus)));
        return false;
    }
    if (!init(session)) {
        const std::string text = driverText(session.errorMessage());
        failure = failed("init refused" + (text.empty() ? std::string() : ": " + text));
        return false;
    }
    return true;
}

} // namespace conform
