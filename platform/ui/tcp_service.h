// The runtime's TCP server (RegisterTCPServer in userint.h) over Qt Network.
// Its events reach the program as callbacks of their own, through the same
// guard as every other (callback_guard.h), and only while the event loop runs.
#pragma once

// Told by RunUserInterface as its loop starts and ends: TCP events wait for
// a running loop, as timer ticks do, so no start-up pop-up is interrupted.
void setTcpDeliveryRunning(bool running);
