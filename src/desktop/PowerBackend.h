#pragma once
// Powering the machine off through logind on the system bus, for the
// "power off when the queue is done" completion action.

#include "session/QueueRun.h"

class TLogindPower : public IPowerBackend {
public:
    bool PowerOff() override;
};
