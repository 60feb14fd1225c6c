#pragma once

#include "foundation/RunLoop.h"

namespace quenbril {

/// Moves a run-loop socket (RunLoopSocket, RunLoopUdpSocket) onto `loop`. Its watches, timers
/// and performs are dropped from the old loop here, and `resume` (re-attach, then take up the
/// queued work) runs on the new loop's thread, because a watch is made on the thread of the loop
/// that serves it. A socket moved again before that runs, or gone, is left alone. From the
/// call on, the socket is used on the new loop's thread. False for a null loop.
template <class Socket>
bool moveSocketToRunLoop(Socket& socket, RunLoop* Socket::*home, RunLoop* loop,
                         void (Socket::*detach)(), void (Socket::*resume)()) {
    if (!loop) return false;
    if (loop == socket.*home) return true;
    (socket.*detach)();
    socket.*home = loop;
    loop->post([weak = socket.weak_from_this(), home, loop, resume] {
        auto self = weak.lock();
        if (!self || (*self).*home != loop) return;
        ((*self).*resume)();
    });
    return true;
}

}  // namespace quenbril
