// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Serial communications, with the calls, records and constants the serial component is
// designed against, so that it reads like its design. On Linux a port is a tty device
// (through the serial-port registry) or a fake device registered by a test; all I/O is
// overlapped: ReadFile, WriteFile and WaitCommEvent either complete at once or stay pending
// until the port completes them, signalling the record's event.
//
// Linux specifics: an exclusive open takes the device's UUCP lock file and is refused while
// another visible process has the device open (the far end of a pseudo terminal aside);
// then flock stops a second copy of this tool (root too) and TIOCEXCL, on real devices only,
// stops programs that honour neither. Pseudo terminals go without TIOCEXCL: it would outlive
// a killed holder as long as the far end stays open. The reason for a refusal is in
// platform::ports::LastOpenRefusal(). Ports open in raw mode and ask for
// low latency where the driver has it. Line settings go through termios2, so any bit rate
// works; a rate the driver does not take as asked (read back within 1 %) is refused. Pseudo
// terminals force 8 data bits and no parity and have no modem lines and no error counters;
// none of that is a refusal. Line errors and breaks come from the driver's counters. A hang-up
// (an unplugged adapter, a closed far side) fails the pending operations and every later
// read, write and event wait at once; the port can still be closed, and closing never waits
// for output to drain.

#include "platform/Handles.h"

#include <functional>
#include <string>

namespace platform::win {

// CreateFileA
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

// DCB flags word
inline constexpr DWORD fBinary = 0x0001;
inline constexpr DWORD fParity = 0x0002;
inline constexpr DWORD fOutxCtsFlow = 0x0004;
inline constexpr DWORD fOutxDsrFlow = 0x0008;
inline constexpr DWORD fDtrControlMask = 0x0030;
inline constexpr DWORD fDsrSensitivity = 0x0040;
inline constexpr DWORD fTXContinueOnXoff = 0x0080;
inline constexpr DWORD fOutX = 0x0100;
inline constexpr DWORD fInX = 0x0200;
inline constexpr DWORD fErrorChar = 0x0400;
inline constexpr DWORD fNull = 0x0800;
inline constexpr DWORD fRtsControlMask = 0x3000;
inline constexpr DWORD fAbortOnError = 0x4000;

inline constexpr DWORD DTR_CONTROL_DISABLE = 0x0000;
inline constexpr DWORD DTR_CONTROL_ENABLE = 0x0010;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 0x0020;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0x0000;
inline constexpr DWORD RTS_CONTROL_ENABLE = 0x1000;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 0x2000;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 0x3000;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;

inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

// Device-control block; the bit fields of the original are the one flags word here.
struct DCB {
    DWORD DCBlength = 0;
    DWORD BaudRate = 0;
    DWORD Flags = 0;
    WORD wReserved = 0;
    WORD XonLim = 0;
    WORD XoffLim = 0;
    BYTE ByteSize = 0;
    BYTE Parity = 0;
    BYTE StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    WORD wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28);

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
    DWORD Flags = 0;
    DWORD cbInQue = 0;
    DWORD cbOutQue = 0;
};

// Internal holds the state of the operation (ERROR_IO_PENDING while it runs, then its
// error code), InternalHigh the bytes transferred; read them through GetOverlappedResult.
struct OVERLAPPED {
    ULONG_PTR Internal = 0;
    ULONG_PTR InternalHigh = 0;
    DWORD Offset = 0;
    DWORD OffsetHigh = 0;
    HANDLE hEvent = 0;
};

// Events of SetCommMask and WaitCommEvent
inline constexpr DWORD EV_RXCHAR = 0x0001;
inline constexpr DWORD EV_BREAK = 0x0040;
inline constexpr DWORD EV_ERR = 0x0080;

// Error flags of ClearCommError
inline constexpr DWORD CE_OVERRUN = 0x0002;
inline constexpr DWORD CE_RXPARITY = 0x0004;
inline constexpr DWORD CE_FRAME = 0x0008;
inline constexpr DWORD CE_BREAK = 0x0010;

// PurgeComm
inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;

// fileName "\\.\COMn" (or "COMn"); shareMode 0 opens exclusively. Every handle is
// overlapped. INVALID_HANDLE_VALUE on failure: ERROR_FILE_NOT_FOUND (no such port),
// ERROR_ACCESS_DENIED (in use), ERROR_GEN_FAILURE (no serial device).
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   const void* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// Beyond the calls above: the device an open handle reads and writes ("/dev/pts/3"), so
// that a refusal can still name it once the registry has dropped the port (a virtual port
// whose program ended); "" for a test's device or a handle that is not a port.
std::string CommDevicePath(HANDLE file);

// Also beyond them: told on the opening thread when an open of a network port starts to
// connect (true) and when it is done (false), so that a window can say why it waits. Null:
// nobody is told.
using ConnectingWatcher = std::function<void(const std::string& address, bool connecting)>;
void SetConnectingWatcher(ConnectingWatcher watcher);

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, const DCB* dcb);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts);

// Changing the mask completes a pending WaitCommEvent with an event mask of 0.
BOOL SetCommMask(HANDLE file, DWORD eventMask);
// Completes at once when a selected event came since the last wait or mask change.
BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped);

// A read completes when count bytes have come or by the time-outs of SetCommTimeouts;
// ReadIntervalTimeout MAXDWORD with both totals 0 returns at once with what is there. Only
// one read and one write may be pending per port.
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* bytesRead,
              OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* bytesWritten,
               OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred,
                         BOOL wait);

// Returns once the bytes written so far have left the line: the transmitter empty where the
// driver tells (TIOCSERGETLSR), the output queue drained (tcdrain) otherwise.
BOOL FlushFileBuffers(HANDLE file);

BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat);
BOOL EscapeCommFunction(HANDLE file, DWORD function);

}  // namespace platform::win
