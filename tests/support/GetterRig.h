#pragma once

// The getter window's part in a transfer, without the window: its variables,
// a recording stand-in for its controls and its transfer component, with
// every state the transfer raised.

#include "RecordingSink.h"

#include "getter/GetterVars.h"
#include "core/Shared.h"
#include "getter/Inet.h"
#include "getter/TransferControl.h"
#include "getter/TransferQueue.h"

#include <QList>
#include <QObject>

struct GetterRig {
    GetterVars vars;
    RecordingSink sink;
    TransferControl transfer{vars, sink};
    // What a search or a download runs its requests on.
    TransferQueue queue;
    QList<int> states;

    GetterRig()
    {
        // Failures that may pass are tried again; here without a long wait.
        transfer.inet().setRetryWait(20);
        queue.setRetryWait(20);
        queue.SetAbortCheck([] { return kiro::AbortFlag == 1; });
        QObject::connect(&queue, &TransferQueue::StateChanged, &queue,
                         [this](int, int state) { states.append(state); });
        QObject::connect(&transfer.inet(), &Inet::StateChanged, &transfer,
                         [this](int state) { states.append(state); });
    }

    // Transfers that ended, well or badly.
    int terminalStates() const { return int(states.count(11) + states.count(12)); }
};
