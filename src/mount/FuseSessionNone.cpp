// Built without libfuse 3: the phone cannot be mounted, and Start says so.
#include "mount/FuseSession.h"

struct TFuseSession::Impl {};

TFuseSession::TFuseSession(TPhoneMount& mount, QObject* parent) : QObject(parent), mount_(mount) {}
TFuseSession::~TFuseSession() = default;

bool TFuseSession::Available() { return false; }

bool TFuseSession::Start(const std::string&, const std::string&, const MountOptions&, std::string* error)
{
    if (error)
        *error = "mounting is not available: this Tarvel was built without libfuse 3";
    return false;
}

void TFuseSession::Unmount() {}
void TFuseSession::Stop() {}
