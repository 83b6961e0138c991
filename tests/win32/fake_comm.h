// Simulated communications ports behind the fake Win32 API (fake/windows.h),
// for trying the serial face without Windows. Reads honour the time-outs the
// way the system does, in real time: a read waits for its first byte or its
// time-out, a write that the device does not take waits its time-out.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fake/windows.h"

namespace fake_comm {

struct Read {
    COMMTIMEOUTS timeouts;  // in force when the read was asked for
    DWORD asked, got;
    double tookMs;
};

struct Port {
    // What the system knows of the port.
    bool listed = true;          // QueryDosDevice names it
    bool present = true;         // CreateFile finds it
    bool serial = true;          // a communications device (GetCommState works)
    bool heldElsewhere = false;  // another program has it open
    // The device vanished: every call fails with `goneError`; or, as Wine's
    // pseudo-terminal does, reads just time out and only ClearCommError fails.
    bool gone = false;
    bool goneOnlyForStatus = false;
    DWORD goneError = ERROR_BAD_COMMAND;
    long writeTakes = -1;  // bytes a write is taken before it times out; -1 all
    DWORD lineErrors = 0;  // reported once by the next ClearCommError

    // What happened.
    bool open = false;
    int opens = 0;
    std::string openedAs;  // the name CreateFile was given
    DWORD shareMode = 0xffffffffu;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    std::vector<Read> reads;
    std::vector<std::uint8_t> written;
    std::vector<DWORD> purges;

    std::deque<std::uint8_t> input;                      // arrived, not read
    std::deque<std::pair<double, std::uint8_t>> coming;  // (arrival on the steady clock in ms, byte)
};

// The port of that name ("COM5"); made on first use.
Port& At(const std::string& name);
// Forgets every port.
void Reset();
// Bytes that arrive at the port `afterMs` from now.
void Arrive(const std::string& name, const std::vector<std::uint8_t>& bytes, double afterMs = 0);
double NowMs();

}  // namespace fake_comm
