// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/CommX.h"

#include "platform/Events.h"
#include "platform/PortAccess.h"
#include "platform/PortTexts.h"
#include "platform/SerialRegistry.h"
#include "platform/ThreadMessages.h"
#include "base/ExceptionReport.h"

#include <QCoreApplication>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using namespace platform::win;

enum class TCustomCommX::Message {
    AlreadyOpen,
    CannotOpen,
    TransThread,
    ReceiveThread,
    BitRate,
    CharSize,
    ParityBit,
    StopBit,
    FlowCtrl,
    TimeOut,
    XonChar,
    XoffChar,
    BufLen,
};

namespace {

// The second line of a refusal: what is known of why, in the component's language.
std::string explain(const platform::ports::PortAccess& access, TCommLanguage language)
{
    return platform::ports::Explain(access, language == clEnglish
                                                ? platform::ports::Language::English
                                                : platform::ports::Language::Japanese);
}

struct MessageText {
    const char* japanese;
    const char* english;
};

// In the order of TCustomCommX::Message.
constexpr MessageText kMessages[] = {
    {"ポートは、すでにオープンされています", "Port is already open."},
    {"ポートをオープンできませんでした", "Can not open port."},
    {"送信用スレッドを生成できませんでした", "Can not generate transfering thread."},
    {"受信用スレッドを生成できませんでした", "Can not generate receiving thread."},
    {"通信速度の設定でエラーが発生しました", "Bitrate configuration error."},
    {"通信ビット数の設定でエラーが発生しました", "Data bit configuration error."},
    {"通信パリティチェックの設定でエラーが発生しました", "Parity configuration error."},
    {"通信ストップビット数の設定でエラーが発生しました", "Stop bit configuration error."},
    {"通信フロー制御の設定で失敗しました", "Flow control configuration error."},
    {"通信タイムアウト時間の設定で失敗しました", "Timeout configuration error."},
    {"Xon文字の設定でエラーが発生しました", "Xon charactor configuration error."},
    {"Xoff文字の設定でエラーが発生しました", "Xoff charactor configuration error."},
    {"通信用ポートのバッファを準備できませんでした", "Comport buffer can not be ready."},
};

constexpr int kMaxPendingBlocks = 32;
constexpr DWORD kLineErrors = CE_OVERRUN | CE_RXPARITY | CE_FRAME;
constexpr DWORD kPurgeSend = PURGE_TXABORT | PURGE_TXCLEAR;
constexpr DWORD kPurgeReceive = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kCommonFlags = fBinary | fParity;

// The DCB flags word of each flow control, in the order of TCommFlowCtrls.
constexpr DWORD kFlowFlags[] = {
    kCommonFlags | fOutxCtsFlow | DTR_CONTROL_ENABLE | RTS_CONTROL_HANDSHAKE,  // cfcRtsCts
    kCommonFlags | fOutxDsrFlow | DTR_CONTROL_HANDSHAKE | RTS_CONTROL_ENABLE,  // cfcDtrDsr
    kCommonFlags | fOutX | fInX | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE,     // cfcXonXoff
    kCommonFlags | DTR_CONTROL_ENABLE | RTS_CONTROL_DISABLE,                   // cfcHalfHigh
    kCommonFlags | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE,                    // cfcHalfLow
    kCommonFlags | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE,                    // cfcNone
};

// One character (start, 8 data, stop bit) in whole milliseconds, rounded up.
int charTimeFor(int bitRate)
{
    return 1000 / (bitRate / 10) + 1;
}

bool isOpen(HANDLE port)
{
    return port != INVALID_HANDLE_VALUE;
}

// Clears the port's error flags and tells the main thread of the line errors among them,
// as OnError reports them.
void reportLineErrors(HANDLE port, HWND notifyWnd)
{
    DWORD errors = 0;
    COMSTAT stat{};
    ClearCommError(port, &errors, &stat);
    if (const DWORD mask = errors & kLineErrors)
        SendMessageA(notifyWnd, WM_COMMERROR, 0, static_cast<LPARAM>(mask));
}

// Gone when the device node is no more; otherwise nothing known.
platform::ports::PortAccess goneDevice(const std::string& device)
{
    platform::ports::PortAccess access;
    if (!device.empty() && !platform::registry::IsNetworkAddress(device) &&
        ::access(device.c_str(), F_OK) != 0) {
        access.state = platform::ports::Access::Gone;
        access.device = device;
    }
    return access;
}

// Why a setting was refused, when the port itself is lost: a device gone, or the connection
// to a network port ended. A server that only refuses the setting says nothing of the port.
platform::ports::PortAccess lostDevice(const std::string& device)
{
    if (const auto address = platform::registry::ParseNetworkAddress(device)) {
        platform::ports::PortAccess access;
        if (GetLastError() == ERROR_DEVICE_NOT_CONNECTED) {
            access.state = platform::ports::Access::Dropped;
            access.device = address->Text();
        }
        return access;
    }
    return goneDevice(device);
}

// Why the last CreateFileA failed, as far as known. A port whose device has gone may have
// left the registry with it (a virtual port whose program ended); the registry can then
// only guess the device from the number, while the component knows the one it had there.
platform::ports::PortAccess openRefusal(const std::string& lastDevice, bool sameNumber)
{
    using platform::ports::Access;
    const platform::ports::PortAccess refusal = platform::ports::LastOpenRefusal();
    if (sameNumber && (refusal.state == Access::Free || refusal.state == Access::Gone))
        if (const auto gone = goneDevice(lastDevice); gone.state == Access::Gone)
            return gone;
    return refusal;
}

}  // namespace

// --- TCustomCommX ---

TCustomCommX::TCustomCommX(QObject* Owner) : QObject(Owner)
{
    NotifyWnd = CreateNotifyWindow([this](UINT Msg, WPARAM WParam, LPARAM LParam) {
        return NotifyWndProc(Msg, WParam, LParam);
    });
    LineSettings.DCBlength = sizeof(DCB);
}

TCustomCommX::~TCustomCommX()
{
    Close();
    // Reports still on their way are dropped and their senders let go.
    DestroyWindow(NotifyWnd);
    // A transmit thread told to end may still be counting off its last block.
    while (attachedTransThreads_.load() > 0)
        Sleep(1);
}

void TCustomCommX::Pause(int Milliseconds)
{
    Sleep(static_cast<DWORD>(Milliseconds));
}

void TCustomCommX::Raise(Message Which, const std::string& Detail) const
{
    const MessageText& text = kMessages[static_cast<int>(Which)];
    std::string message = Language == clEnglish ? text.english : text.japanese;
    if (!Detail.empty())
        message += "\n" + Detail;
    throw ECommError(message);
}

void TCustomCommX::Open()
{
    if (isOpen(handle_))
        Raise(Message::AlreadyOpen);
    // The device name has room for eight characters of the number.
    const std::string number = std::to_string(portNo_);
    if (number.size() > 8)
        Raise(Message::CannotOpen);
    handle_ = CreateFileA(("\\\\.\\COM" + number).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                          nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, 0);
    if (!isOpen(handle_))
        Raise(Message::CannotOpen, explain(openRefusal(lastDevice_, portNo_ == lastDevicePortNo_), Language));
    lastDevice_ = CommDevicePath(handle_);
    lastDevicePortNo_ = portNo_;
    try {
        {
            std::lock_guard lock(CountLock);
            PendingBytes = 0;
            PendingBlocks = 0;
        }
        ApplyBufLens();
        PurgeComm(handle_, kPurgeSend);
        PurgeComm(handle_, kPurgeReceive);
        GetCommState(handle_, &LineSettings);
        SetBitRate(bitRate_);
        SetCharSize(charSize_);
        SetParityBit(parityBit_);
        SetStopBit(stopBit_);
        SetFlowCtrl(FlowCtrl());
        ApplyTimeOuts();
        SetXonChar(xonChar_);
        SetXoffChar(xoffChar_);
        watchingReceive_ = static_cast<bool>(OnReceive);  // a new line: nothing came unwatched
        WatchLine();
        ReadEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ReadOverlapped = OVERLAPPED{};
        ReadOverlapped.hEvent = ReadEvent;
        StartThreads();
    } catch (...) {
        Close();
        throw;
    }
}

void TCustomCommX::StartThreads()
{
    TransThread = nullptr;
    ReceiveThread = nullptr;
    try {
        auto trans = std::make_unique<TCommTransThread>(this, handle_, NotifyWnd);
        trans->CharTime = charTimeFor(bitRate_);
        TransThread = trans.release();  // frees itself once it has ended
    } catch (...) {
        Raise(Message::TransThread);
    }
    TransThread->Resume();
    TransThread->WaitForQueue();
    try {
        ReceiveThread = std::make_unique<TCommReceiveThread>(handle_, NotifyWnd).release();
    } catch (...) {
        Raise(Message::ReceiveThread);
    }
    ReceiveThread->Resume();
    Pause(100);
}

void TCustomCommX::Close()
{
    if (!isOpen(handle_))
        return;
    SetDTR(false);
    SetRTS(false);
    PurgeSend();
    PurgeReceive();
    Pause(100);
    if (TransThread) {
        // Read before the flag is set: from then on the thread may end and free itself.
        const DWORD thread = TransThread->ThreadID();
        TransThread->Terminate();
        PostThreadMessageA(thread, TM_WAKEUP, 0, 0);
    }
    if (ReceiveThread)
        ReceiveThread->Wake();
    TransThread = nullptr;
    ReceiveThread = nullptr;
    if (ReadEvent) {
        CloseHandle(ReadEvent);
        ReadEvent = 0;
    }
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    Pause(500);
}

bool TCustomCommX::Send(const void* Buffer, int Count)
{
    if (Count == 0)
        return true;
    if (Count < 0 || !Buffer)
        return false;
    const auto* position = static_cast<const std::uint8_t*>(Buffer);
    int rest = Count;
    while (rest > 0) {
        for (;;) {
            if (!isOpen(handle_) || !TransThread)
                return false;
            int blocks = 0;
            {
                std::lock_guard lock(CountLock);
                blocks = PendingBlocks;
            }
            if (blocks < kMaxPendingBlocks)
                break;
            QCoreApplication::processEvents();
            Sleep(1);
        }
        if (bufLenTrans_ < 1)
            return false;  // no block could ever hold a byte
        const int chunk = std::min(bufLenTrans_, rest);
        std::unique_ptr<std::uint8_t[]> block;
        try {
            block = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(chunk));
        } catch (const std::bad_alloc&) {
            // That chunk is skipped; the rest still goes out.
        }
        if (block) {
            std::memcpy(block.get(), position, static_cast<std::size_t>(chunk));
            {
                std::lock_guard lock(CountLock);
                PendingBytes += chunk;
                ++PendingBlocks;
            }
            if (PostThreadMessageA(TransThread->ThreadID(), TM_SENDBLOCK,
                                   static_cast<WPARAM>(chunk),
                                   reinterpret_cast<LPARAM>(block.get()))) {
                block.release();  // the thread frees it
            } else {
                // Never reaches the thread: counted out again (and freed) here, so that
                // the counters stay what the thread will count off.
                std::lock_guard lock(CountLock);
                PendingBytes -= chunk;
                --PendingBlocks;
                return false;
            }
        }
        position += chunk;
        rest -= chunk;
    }
    return true;
}

int TCustomCommX::Receive(void* Buffer, int Count)
{
    const HANDLE port = handle_;
    if (!isOpen(port) || !ReceiveThread || !Buffer || Count < 0)
        return -1;
    DWORD bytesRead = 0;
    if (ReadFile(port, Buffer, static_cast<DWORD>(Count), &bytesRead, &ReadOverlapped))
        return static_cast<int>(bytesRead);
    if (GetLastError() != ERROR_IO_PENDING) {
        reportLineErrors(handle_, NotifyWnd);
        return -1;
    }
    for (;;) {
        if (GetOverlappedResult(port, &ReadOverlapped, &bytesRead, FALSE))
            return static_cast<int>(bytesRead);
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            reportLineErrors(handle_, NotifyWnd);
            return -1;
        }
        QCoreApplication::processEvents();
        // Closed meanwhile (perhaps opened again): closing ended the read.
        if (handle_ != port || !ReceiveThread)
            return -1;
        // A step of at most 1 ms that ends as soon as the read completes, so a reply is
        // taken the moment its last byte is in.
        WaitForSingleObject(ReadOverlapped.hEvent, 1);
    }
}

int TCustomCommX::ReadByte()
{
    std::uint8_t byte = 0;
    return Receive(&byte, 1) == 1 ? byte : -1;
}

void TCustomCommX::PurgeSend()
{
    if (!isOpen(handle_))
        return;
    if (!TransThread) {
        PurgeComm(handle_, kPurgeSend);
        return;
    }
    // The transmit thread may report a line error meanwhile; it must not wait for this
    // thread, which waits for it. The receive thread waits, so its reports still merge.
    const SendsDeferred deferred(NotifyWnd, TransThread->ThreadID());
    TransThread->Abort = true;
    // Nothing pending after a purge ends the wait at once: every exchange starts with a
    // purge, and a pause here would add to each one.
    for (;;) {
        {
            std::lock_guard lock(TransLock);
            PurgeComm(handle_, kPurgeSend);
        }
        {
            std::lock_guard lock(CountLock);
            if (PendingBytes == 0)
                break;
        }
        Sleep(1);
    }
    TransThread->Abort = false;
}

void TCustomCommX::PurgeReceive()
{
    if (isOpen(handle_))
        PurgeComm(handle_, kPurgeReceive);
}

int TCustomCommX::SendPending() const
{
    if (!isOpen(handle_))
        return 0;
    std::lock_guard lock(CountLock);
    return PendingBytes;
}

int TCustomCommX::ReceivedCount()
{
    if (!isOpen(handle_))
        return 0;
    DWORD errors = 0;
    COMSTAT stat{};
    ClearCommError(handle_, &errors, &stat);
    return static_cast<int>(stat.cbInQue);
}

void TCustomCommX::SetRTS(bool On)
{
    if (isOpen(handle_))
        EscapeCommFunction(handle_, On ? SETRTS : CLRRTS);
}

void TCustomCommX::SetDTR(bool On)
{
    if (isOpen(handle_))
        EscapeCommFunction(handle_, On ? SETDTR : CLRDTR);
}

void TCustomCommX::SetPortNo(int Value)
{
    portNo_ = Value;
    if (isOpen(handle_)) {
        Close();
        Open();
    }
}

void TCustomCommX::WriteLineSettings(Message Refusal)
{
    if (SetCommState(handle_, &LineSettings))
        return;
    // An adapter pulled out refuses every setting; the report says so, as an open would.
    Raise(Refusal, explain(lostDevice(lastDevice_), Language));
}

void TCustomCommX::SetBitRate(int Value)
{
    bitRate_ = Value;
    if (!isOpen(handle_))
        return;
    // Below 10 bit/s the transmit thread's character time would divide by zero.
    if (Value < 10)
        Raise(Message::BitRate);
    LineSettings.BaudRate = static_cast<DWORD>(Value);
    WriteLineSettings(Message::BitRate);
    if (TransThread)
        TransThread->CharTime = charTimeFor(Value);
}

void TCustomCommX::SetCharSize(int Value)
{
    charSize_ = Value;
    if (!isOpen(handle_))
        return;
    LineSettings.ByteSize = static_cast<BYTE>(Value);
    WriteLineSettings(Message::CharSize);
}

void TCustomCommX::SetParityBit(TCommParityBits Value)
{
    parityBit_ = Value;
    if (!isOpen(handle_) || Value > cpbEven)
        return;
    static constexpr BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY};
    LineSettings.Parity = parities[Value];
    WriteLineSettings(Message::ParityBit);
}

void TCustomCommX::SetStopBit(TCommStopBits Value)
{
    stopBit_ = Value;
    if (!isOpen(handle_) || Value > csb2)
        return;
    static constexpr BYTE stopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    LineSettings.StopBits = stopBits[Value];
    WriteLineSettings(Message::StopBit);
}

void TCustomCommX::SetFlowCtrl(TCommFlowCtrls Value)
{
    flowCtrl_.store(Value, std::memory_order_relaxed);
    if (!isOpen(handle_) || Value > cfcNone)
        return;
    LineSettings.Flags = kFlowFlags[Value];
    LineSettings.XonLim = static_cast<WORD>(bufLenReceive_ / 4);
    LineSettings.XoffLim = static_cast<WORD>(bufLenReceive_ / 4);
    WriteLineSettings(Message::FlowCtrl);
}

void TCustomCommX::SetTimeOutTrans(int Value)
{
    timeOutTrans_ = Value;
    ApplyTimeOuts();
}

void TCustomCommX::SetTimeOutReceive(int Value)
{
    timeOutReceive_ = Value;
    ApplyTimeOuts();
}

void TCustomCommX::SetXonChar(char Value)
{
    xonChar_ = Value;
    if (!isOpen(handle_))
        return;
    LineSettings.XonChar = Value;
    WriteLineSettings(Message::XonChar);
}

void TCustomCommX::SetXoffChar(char Value)
{
    xoffChar_ = Value;
    if (!isOpen(handle_))
        return;
    LineSettings.XoffChar = Value;
    WriteLineSettings(Message::XoffChar);
}

void TCustomCommX::SetBufLenTrans(int Value)
{
    bufLenTrans_ = Value;
    ApplyBufLens();
}

void TCustomCommX::SetBufLenReceive(int Value)
{
    bufLenReceive_ = Value;
    if (!isOpen(handle_))
        return;
    ApplyBufLens();
    SetFlowCtrl(FlowCtrl());  // its limits derive from the input queue
}

void TCustomCommX::ApplyTimeOuts()
{
    if (!isOpen(handle_))
        return;
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handle_, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeOutReceive_);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeOutTrans_);
    if (!SetCommTimeouts(handle_, &timeouts))
        Raise(Message::TimeOut);
}

void TCustomCommX::ApplyBufLens()
{
    if (!isOpen(handle_))
        return;
    if (!SetupComm(handle_, static_cast<DWORD>(bufLenReceive_), static_cast<DWORD>(bufLenTrans_)))
        Raise(Message::BufLen);
}

void TCustomCommX::WatchLine()
{
    if (!isOpen(handle_))
        return;
    const bool watched = watchingReceive_;
    watchingReceive_ = static_cast<bool>(OnReceive);
    SetCommMask(handle_, EV_BREAK | EV_ERR | (watchingReceive_ ? EV_RXCHAR : 0));
    if (!watchingReceive_ || watched)
        return;
    // Bytes that came while nobody watched for them raised no event: the new handler hears
    // of them once the main thread handles events again, as of bytes that come later. The
    // count also clears the line errors, which are reported as the receive thread would.
    DWORD errors = 0;
    COMSTAT stat{};
    ClearCommError(handle_, &errors, &stat);
    const DWORD lineErrors = errors & kLineErrors;
    if (stat.cbInQue == 0 && lineErrors == 0)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, lineErrors] {
            if (lineErrors)
                RunGuarded([&] { DoError(static_cast<int>(lineErrors)); });
            RunGuarded([this] { DoReceive(); });
        },
        Qt::QueuedConnection);
}

LRESULT TCustomCommX::NotifyWndProc(UINT Msg, WPARAM WParam, LPARAM LParam)
{
    // What a handler raises goes to the default exception report, never into the event loop.
    switch (Msg) {
    case WM_COMMRECEIVE:
        RunGuarded([this] { DoReceive(); });
        return 0;
    case WM_COMMBREAK:
        RunGuarded([this] { DoBreak(); });
        return 0;
    case WM_COMMERROR:
        RunGuarded([this, LParam] { DoError(static_cast<int>(LParam)); });
        return 0;
    default:
        return DefWindowProcA(NotifyWnd, Msg, WParam, LParam);
    }
}

void TCustomCommX::DoReceive()
{
    if (!isOpen(handle_) || !OnReceive)
        return;
    if (const int count = ReceivedCount())
        OnReceive(this, count);
}

void TCustomCommX::DoBreak()
{
    if (isOpen(handle_) && OnBreak)
        OnBreak(this);
}

void TCustomCommX::DoError(int ErrorState)
{
    if (isOpen(handle_) && OnError)
        OnError(this, ErrorState);
}

// --- TCommTransThread ---

TCommTransThread::TCommTransThread(TCustomCommX* Owner, HANDLE PortHandle, HWND NotifyWnd)
    : Owner(Owner), PortHandle(PortHandle), NotifyWnd(NotifyWnd)
{
    ++Owner->attachedTransThreads_;
}

TCommTransThread::~TCommTransThread()
{
    if (attached_)
        --Owner->attachedTransThreads_;  // never ran
}

void TCommTransThread::WaitForQueue()
{
    std::unique_lock lock(queueLock_);
    queueMade_.wait(lock, [this] { return hasQueue_; });
}

void TCommTransThread::Execute()
{
    MSG msg;
    // Makes the queue at once, so that Send can hand over blocks.
    PeekMessageA(&msg, HWND{}, 0, 0, PM_NOREMOVE);
    {
        std::lock_guard lock(queueLock_);
        hasQueue_ = true;
    }
    queueMade_.notify_all();
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    // Checked before each wait: Close may come before this thread had its queue.
    while (!Terminated()) {
        bool switched = false;
        WaitMessage();
        while (PeekMessageA(&msg, HWND{}, 0, 0, PM_REMOVE)) {
            if (msg.hwnd != HWND{} || msg.message != TM_SENDBLOCK)
                continue;
            const auto size = static_cast<int>(msg.wParam);
            std::unique_ptr<std::uint8_t[]> block(reinterpret_cast<std::uint8_t*>(msg.lParam));
            if (!Stopping()) {
                if (!switched) {
                    switched = true;
                    BeginTransmit();
                }
                WriteBlock(block.get(), static_cast<DWORD>(size));
            }
            block.reset();
            std::lock_guard lock(Owner->CountLock);
            Owner->PendingBytes = std::max(Owner->PendingBytes - size, 0);
            if (Owner->PendingBlocks > 0)
                --Owner->PendingBlocks;
        }
        if (switched)
            EndTransmit();
    }
    // Nothing of the component is touched from here on.
    attached_ = false;
    --Owner->attachedTransThreads_;
    Sleep(100);
    CloseHandle(event_);
    SetFreeOnTerminate(true);
}

void TCommTransThread::WriteBlock(const std::uint8_t* Block, DWORD Size)
{
    const std::uint8_t* position = Block;
    DWORD rest = Size;
    while (!Stopping()) {
        ResetEvent(event_);
        DWORD written = 0;
        BOOL done = FALSE;
        {
            // Only the start of the write: a purge must not fall between it and the driver.
            std::lock_guard lock(Owner->TransLock);
            done = WriteFile(PortHandle, position, rest, &written, &overlapped_);
        }
        if (done)
            return;
        if (GetLastError() != ERROR_IO_PENDING) {
            reportLineErrors(PortHandle, NotifyWnd);
            return;
        }
        WaitForSingleObject(event_, INFINITE);
        if (GetOverlappedResult(PortHandle, &overlapped_, &written, FALSE))
            return;
        reportLineErrors(PortHandle, NotifyWnd);
        if (written >= rest)
            return;
        position += written;
        rest -= written;
    }
}

void TCommTransThread::BeginTransmit()
{
    const TCommFlowCtrls flow = Owner->FlowCtrl();
    if (flow != cfcHalfHigh && flow != cfcHalfLow)
        return;
    Sleep(50);
    EscapeCommFunction(PortHandle, flow == cfcHalfHigh ? SETRTS : CLRRTS);
    Sleep(static_cast<DWORD>(CharTime.load()));
}

void TCommTransThread::EndTransmit()
{
    const TCommFlowCtrls flow = Owner->FlowCtrl();
    if (flow != cfcHalfHigh && flow != cfcHalfLow)
        return;
    // A write completes once the bytes are in the driver's buffer; RTS may fall only after
    // the last of them has left the line.
    FlushFileBuffers(PortHandle);
    Sleep(static_cast<DWORD>(CharTime.load()));
    EscapeCommFunction(PortHandle, flow == cfcHalfHigh ? CLRRTS : SETRTS);
}

// --- TCommReceiveThread ---

TCommReceiveThread::TCommReceiveThread(HANDLE PortHandle, HWND NotifyWnd)
    : PortHandle(PortHandle), NotifyWnd(NotifyWnd)
{
}

void TCommReceiveThread::Wake()
{
    std::lock_guard lock(wakeLock_);
    Terminate();
    if (WakeEvent)
        SetEvent(WakeEvent);
}

void TCommReceiveThread::Execute()
{
    HANDLE wake = 0;
    {
        // A Close before this point has set the termination flag, which the loop sees.
        std::lock_guard lock(wakeLock_);
        WakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        wake = WakeEvent;
    }
    // The port writes both until a pending wait has ended; SetCommMask(0) below ends it.
    OVERLAPPED overlapped{};
    overlapped.hEvent = wake;
    DWORD eventMask = 0;
    while (!Terminated()) {
        eventMask = 0;
        // A wait that fails at once (a port that hung up) leaves the thread here until Close.
        if (!WaitCommEvent(PortHandle, &eventMask, &overlapped))
            WaitForSingleObject(wake, INFINITE);
        if (Terminated())
            break;
        reportLineErrors(PortHandle, NotifyWnd);
        if (eventMask & EV_BREAK)
            SendMessageA(NotifyWnd, WM_COMMBREAK, 0, static_cast<LPARAM>(eventMask));
        if (eventMask & EV_RXCHAR)
            SendMessageA(NotifyWnd, WM_COMMRECEIVE, 0, 0);
    }
    SetCommMask(PortHandle, 0);
    Sleep(100);
    {
        std::lock_guard lock(wakeLock_);
        CloseHandle(WakeEvent);
        WakeEvent = 0;
    }
    SetFreeOnTerminate(true);
}
