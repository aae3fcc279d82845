// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial-port component: one COM port with its line settings as properties, a transmit
// thread that writes what Send hands it, a timed Receive on the caller's thread, and a
// receive thread that reports received data, breaks and line errors through a hidden
// notification window as the events OnReceive, OnBreak and OnError on the main thread.

#include "platform/Comm.h"
#include "platform/NotifyWindow.h"
#include "base/Thread.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

using platform::win::HANDLE;
using platform::win::INVALID_HANDLE_VALUE;

enum TCommParityBits : std::uint8_t { cpbNone, cpbOdd, cpbEven };
enum TCommStopBits : std::uint8_t { csb1, csb1p5, csb2 };
enum TCommFlowCtrls : std::uint8_t { cfcRtsCts, cfcDtrDsr, cfcXonXoff, cfcHalfHigh, cfcHalfLow, cfcNone };
enum TCommLanguage : std::uint8_t { clJapanese, clEnglish };

using TCommReceiveEvent = std::function<void(QObject* Sender, int ReceiveSize)>;
using TCommBreakEvent = std::function<void(QObject* Sender)>;
using TCommErrEvent = std::function<void(QObject* Sender, int ErrorState)>;

// Its message (what()) is the UTF-8 text in the component's Language.
class ECommError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Messages of the notification window, sent by the threads and by Receive.
inline constexpr platform::win::UINT WM_COMMRECEIVE = 0x500;
inline constexpr platform::win::UINT WM_COMMBREAK = 0x501;
inline constexpr platform::win::UINT WM_COMMERROR = 0x502;

// Thread messages of the transmit thread.
inline constexpr platform::win::UINT TM_SENDBLOCK = 0x500;
inline constexpr platform::win::UINT TM_WAKEUP = 0x501;

class TCommTransThread;
class TCommReceiveThread;

// An event handler that tells its component when one is assigned: the component then
// watches the line for that event only while someone handles it.
template <typename Handler>
class TCommWatchedEvent {
public:
    explicit TCommWatchedEvent(std::function<void()> Assigned) : assigned_(std::move(Assigned)) {}
    TCommWatchedEvent(const TCommWatchedEvent&) = delete;
    TCommWatchedEvent& operator=(const TCommWatchedEvent&) = delete;

    TCommWatchedEvent& operator=(Handler Value)
    {
        handler_ = std::move(Value);
        assigned_();
        return *this;
    }
    explicit operator bool() const { return static_cast<bool>(handler_); }
    template <typename... Args>
    void operator()(Args&&... Arguments) const
    {
        handler_(std::forward<Args>(Arguments)...);
    }

private:
    Handler handler_;
    std::function<void()> assigned_;
};

class TCustomCommX : public QObject {
    Q_OBJECT

public:
    explicit TCustomCommX(QObject* Owner);
    // Closes the port if it is open.
    ~TCustomCommX() override;

    // Raises ECommError; a failure after the device was opened closes it again. A refused
    // open names the device and what to do on a second line when the cause is known (no
    // permission, held by another program, gone).
    void Open();
    // Lowers DTR and RTS, discards what is pending, ends both threads; takes at least
    // 600 ms on an open port, nothing on a closed one.
    void Close();
    // Hands the bytes to the transmit thread in blocks of at most BufLenTrans bytes and
    // returns without waiting for the line, except while 32 blocks are pending (then it
    // waits in 1 ms steps, handling Qt events). False when the port is closed (or closes
    // meanwhile), when a block cannot be handed over, for a negative Count and for
    // BufLenTrans below 1; true for Count 0.
    virtual bool Send(const void* Buffer, int Count);
    // Reads up to Count bytes, waiting in 1 ms steps with Qt events handled, until Count
    // bytes came or TimeOutReceive ran out: the bytes read (0 to Count), or -1 when the
    // port is closed, closes, is purged or hangs up meanwhile, or Buffer is null.
    virtual int Receive(void* Buffer, int Count);
    // One byte 0 to 255, or -1 when none came.
    int ReadByte();
    // Aborts and discards all transmission; returns when nothing is pending.
    void PurgeSend();
    // Aborts a pending Receive and empties the input queue.
    void PurgeReceive();
    // Bytes handed to the transmit thread and not yet finished; 0 while closed.
    int SendPending() const;
    // Bytes waiting in the input queue; 0 while closed.
    int ReceivedCount();
    void SetRTS(bool On);
    void SetDTR(bool On);

    // Properties. Writing one stores it and applies it to an open port at once; a setting
    // the port refuses raises ECommError, and the property keeps the refused value.
    int PortNo() const { return portNo_; }
    void SetPortNo(int Value);  // re-opens an open port on the new number
    int BitRate() const { return bitRate_; }
    void SetBitRate(int Value);  // below 10 refused on an open port
    int CharSize() const { return charSize_; }
    void SetCharSize(int Value);
    TCommParityBits ParityBit() const { return parityBit_; }
    void SetParityBit(TCommParityBits Value);
    TCommStopBits StopBit() const { return stopBit_; }
    void SetStopBit(TCommStopBits Value);
    TCommFlowCtrls FlowCtrl() const { return flowCtrl_.load(std::memory_order_relaxed); }
    void SetFlowCtrl(TCommFlowCtrls Value);
    int TimeOutTrans() const { return timeOutTrans_; }
    void SetTimeOutTrans(int Value);
    int TimeOutReceive() const { return timeOutReceive_; }
    void SetTimeOutReceive(int Value);
    char XonChar() const { return xonChar_; }
    void SetXonChar(char Value);
    char XoffChar() const { return xoffChar_; }
    void SetXoffChar(char Value);
    int BufLenTrans() const { return bufLenTrans_; }
    void SetBufLenTrans(int Value);
    int BufLenReceive() const { return bufLenReceive_; }
    void SetBufLenReceive(int Value);
    // INVALID_HANDLE_VALUE while the port is closed; the one test for an open port.
    HANDLE Handle() const { return handle_; }

    // Run on the main thread while the port is open; an exception a handler raises goes to
    // the default exception report.
    // Without a receive handler the arrival of bytes wakes no thread of the component; a
    // handler assigned to an open port still hears of the bytes already waiting.
    TCommWatchedEvent<TCommReceiveEvent> OnReceive{[this] { WatchLine(); }};
    TCommBreakEvent OnBreak;
    TCommErrEvent OnError;

    // Language of every later ECommError message.
    TCommLanguage Language = clJapanese;

protected:
    // The pauses of Open and Close. Only tests that cycle a port many times replace it.
    virtual void Pause(int Milliseconds);

private:
    friend class TCommTransThread;

    enum class Message;
    // Detail, when given, becomes the message's second line.
    [[noreturn]] void Raise(Message Which, const std::string& Detail = {}) const;
    void StartThreads();
    void ApplyTimeOuts();
    void ApplyBufLens();
    void WriteLineSettings(Message Refusal);
    // Sets the events the receive thread waits for: breaks and line errors, and received
    // bytes while OnReceive has a handler.
    void WatchLine();
    platform::win::LRESULT NotifyWndProc(platform::win::UINT Msg, platform::win::WPARAM WParam,
                                         platform::win::LPARAM LParam);
    void DoReceive();
    void DoBreak();
    void DoError(int ErrorState);

    platform::win::HWND NotifyWnd{};
    TCommTransThread* TransThread = nullptr;      // frees itself once told to end
    TCommReceiveThread* ReceiveThread = nullptr;  // frees itself once told to end
    mutable std::mutex TransLock;
    mutable std::mutex CountLock;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // The device the port number opened last ("" for a test's device), kept after Close so
    // that a refusal names it even when the registry has forgotten the port.
    std::string lastDevice_;
    int lastDevicePortNo_ = 0;
    bool watchingReceive_ = false;  // EV_RXCHAR is in the open port's mask
    int portNo_ = 1;
    int bitRate_ = 9600;
    int charSize_ = 8;
    TCommParityBits parityBit_ = cpbNone;
    TCommStopBits stopBit_ = csb1;
    std::atomic<TCommFlowCtrls> flowCtrl_{cfcRtsCts};  // the transmit thread reads it
    int timeOutTrans_ = 3000;
    int timeOutReceive_ = 3000;
    char xonChar_ = 17;
    char xoffChar_ = 19;
    int bufLenTrans_ = 2048;
    int bufLenReceive_ = 2048;
    platform::win::DCB LineSettings{};
    HANDLE ReadEvent = 0;
    platform::win::OVERLAPPED ReadOverlapped{};
    int PendingBytes = 0;   // under CountLock
    int PendingBlocks = 0;  // under CountLock
    // Transmit threads that may still touch this object; Destroy waits for them.
    std::atomic<int> attachedTransThreads_{0};
};

// Publishes the properties by name, for form definitions.
class TCommX : public TCustomCommX {
    Q_OBJECT
    Q_PROPERTY(int PortNo READ PortNo WRITE SetPortNo)
    Q_PROPERTY(int BitRate READ BitRate WRITE SetBitRate)
    Q_PROPERTY(int CharSize READ CharSize WRITE SetCharSize)
    Q_PROPERTY(TCommParityBits ParityBit READ ParityBit WRITE SetParityBit)
    Q_PROPERTY(TCommStopBits StopBit READ StopBit WRITE SetStopBit)
    Q_PROPERTY(TCommFlowCtrls FlowCtrl READ FlowCtrl WRITE SetFlowCtrl)
    Q_PROPERTY(int TimeOutTrans READ TimeOutTrans WRITE SetTimeOutTrans)
    Q_PROPERTY(int TimeOutReceive READ TimeOutReceive WRITE SetTimeOutReceive)
    Q_PROPERTY(char XonChar READ XonChar WRITE SetXonChar)
    Q_PROPERTY(char XoffChar READ XoffChar WRITE SetXoffChar)
    Q_PROPERTY(int BufLenTrans READ BufLenTrans WRITE SetBufLenTrans)
    Q_PROPERTY(int BufLenReceive READ BufLenReceive WRITE SetBufLenReceive)
    Q_PROPERTY(quint32 Handle READ Handle)
    Q_PROPERTY(TCommLanguage Language MEMBER Language)

public:
    explicit TCommX(QObject* Owner) : TCustomCommX(Owner) {}
};

// Writes the blocks that Send hands over, one after another, with RTS switched around each
// burst for the half-duplex flow controls.
class TCommTransThread : public TThread {
public:
    TCommTransThread(TCustomCommX* Owner, HANDLE PortHandle, platform::win::HWND NotifyWnd);
    ~TCommTransThread() override;

    std::atomic<bool> Abort{false};  // set by PurgeSend: blocks are discarded unwritten
    std::atomic<int> CharTime{0};    // one character time in ms

    // Once resumed: returns when the thread has its message queue, so blocks can be posted.
    void WaitForQueue();

protected:
    void Execute() override;

private:
    void WriteBlock(const std::uint8_t* Block, platform::win::DWORD Size);
    void BeginTransmit();
    void EndTransmit();
    bool Stopping() const { return Abort.load() || Terminated(); }

    TCustomCommX* const Owner;
    const HANDLE PortHandle;
    const platform::win::HWND NotifyWnd;
    HANDLE event_ = 0;
    platform::win::OVERLAPPED overlapped_{};
    bool attached_ = true;  // counted in Owner's attachedTransThreads_
    std::mutex queueLock_;
    std::condition_variable queueMade_;
    bool hasQueue_ = false;
};

// Watches the line and reports line errors, breaks and received data, in this order.
class TCommReceiveThread : public TThread {
public:
    TCommReceiveThread(HANDLE PortHandle, platform::win::HWND NotifyWnd);

    // Sets the termination flag and signals WakeEvent; works also before the thread has
    // made WakeEvent.
    void Wake();

protected:
    void Execute() override;

private:
    const HANDLE PortHandle;
    const platform::win::HWND NotifyWnd;
    std::mutex wakeLock_;  // WakeEvent is made by the thread and signalled by Close
    HANDLE WakeEvent = 0;
};
