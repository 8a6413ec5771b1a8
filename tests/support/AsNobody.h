#pragma once
// Acts as an ordinary user (nobody) for as long as it lives, so that a test run as root meets
// real permission failures. Root keeps its own supplementary groups (only root's group).
#include <unistd.h>

class AsNobody {
public:
    AsNobody() { ok_ = setegid(65534) == 0 && seteuid(65534) == 0; }
    ~AsNobody()
    {
        (void)seteuid(0);
        (void)setegid(0);
    }
    AsNobody(const AsNobody&) = delete;
    AsNobody& operator=(const AsNobody&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};
