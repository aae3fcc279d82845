// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on a real X server (ctest runs this under Xvfb on the xcb platform): its
// native window destroyed by another client, without a request to close, as
// `xdotool windowclose` does; the program ended by a signal while it polls.
#include "app/ZUB3Check.h"

#include "app/FormData.h"
#include "app/WindowSettings.h"

#include "serial/CommX.h"
#include "sim/VirtualReceiver.h"
#include "support/KeptPortRun.h"
#include "support/QuickCommX.h"
#include "support/TempRegistry.h"
#include "support/Wait.h"
#include "support/WindowRig.h"
#include "toolkit/DesktopMetrics.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>

#include <csignal>
#include <filesystem>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

using namespace platform::registry;
using zub3::sim::VirtualReceiver;

namespace {

// A second connection to the display, as another program has.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~OtherClient() { xcb_disconnect(connection_); }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool Connected() const { return xcb_connection_has_error(connection_) == 0; }

    void DestroyWindow(xcb_window_t window)
    {
        xcb_destroy_window(connection_, window);
        xcb_flush(connection_);
    }

    // A left click at a point of window, sent to the client that made it.
    void Click(xcb_window_t window, QPoint at)
    {
        for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
            xcb_button_press_event_t e{};
            e.response_type = type;
            e.detail = 1;
            e.root = root();
            e.event = window;
            e.event_x = static_cast<std::int16_t>(at.x());
            e.event_y = static_cast<std::int16_t>(at.y());
            e.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
            e.same_screen = 1;
            send(window, &e);
        }
    }

    // The mapped top-level window that the process pid has put up; given a title, the one
    // with that title.
    std::optional<xcb_window_t> ShownWindowOf(qint64 pid, const QByteArray& title = {})
    {
        const xcb_atom_t pidAtom = atom("_NET_WM_PID");
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root), nullptr),
            &std::free);
        if (!tree)
            return std::nullopt;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t w = children[i];
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
                xcb_get_window_attributes_reply(connection_,
                                                xcb_get_window_attributes(connection_, w),
                                                nullptr),
                &std::free);
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                continue;
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
                xcb_get_property_reply(
                    connection_,
                    xcb_get_property(connection_, 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                    nullptr),
                &std::free);
            if (property && xcb_get_property_value_length(property.get()) == 4 &&
                *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get())) ==
                    static_cast<std::uint32_t>(pid) &&
                (title.isEmpty() || titleOf(w) == title))
                return w;
        }
        return std::nullopt;
    }

private:
    QByteArray titleOf(xcb_window_t w)
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> name(
            xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 0, w, atom("_NET_WM_NAME"),
                                                    atom("UTF8_STRING"), 0, 256),
                                   nullptr),
            &std::free);
        if (!name)
            return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(name.get())),
                          xcb_get_property_value_length(name.get()));
    }

    xcb_window_t root() const
    {
        return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }

    template <typename Event>
    void send(xcb_window_t window, const Event* e)
    {
        char bytes[32] = {};
        std::memcpy(bytes, e, sizeof *e);
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, bytes);
        xcb_flush(connection_);
    }

    xcb_atom_t atom(const char* name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(
                connection_,
                xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)),
                                name),
                nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    xcb_connection_t* connection_;
};

class NativeWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        ASSERT_TRUE(other_.Connected());
    }

    // ZUB3Manager started in env; its window once shown, nullopt when none came.
    std::optional<xcb_window_t> startProgram(
        QProcess& program, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.setProcessEnvironment(env);
        program.start(ZUB3MANAGER_PATH, QStringList{});
        std::optional<xcb_window_t> window;
        if (program.waitForStarted())
            WaitUntil([&] { return (window = other_.ShownWindowOf(program.processId())).has_value(); });
        return window;
    }

    OtherClient other_;
};

}  // namespace

TEST_F(NativeWindow, DestroyedFromOutsideEndsTheToolAsACloseDoes)
{
    VirtualReceiver::Config config;
    config.bitRate = 115200;
    WindowRig rig(config);
    VirtualReceiver& receiver = *rig.receiver;
    const auto owned = rig.OpenWindow();
    TMainForm& form = *owned;
    ASSERT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    WindowRig::Choose(form.cbxBaudRate, "115200");
    WindowRig::Choose(form.cbxInterval, "5");
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    WindowRig::ClickSwitch(form);
    ASSERT_TRUE(form.Monitoring);
    ASSERT_TRUE(WaitUntil([&] { return receiver.GetCounters().polls >= 20; }));

    // Destroyed while a poll waits for its reply, so that the close waits for the poll.
    zub3::sim::Faults slow;
    slow.delay = std::chrono::milliseconds(300);
    receiver.SetFaults(slow);
    const auto window = static_cast<xcb_window_t>(form.winId());
    bool destroyed = false;
    QTimer probe;
    probe.setInterval(2);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!destroyed && form.ExchangeRunning()) {
            destroyed = true;
            other_.DestroyWindow(window);
        }
    });
    probe.start();
    // The event loop ends, as the program's does when its window closes; a stuck window
    // fails here instead of hanging.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(rig.messages.empty());

    // Polling has stopped and the port is free for another copy of the tool.
    const auto polls = receiver.GetCounters().polls;
    QTest::qWait(100);
    EXPECT_EQ(receiver.GetCounters().polls, polls);
    QuickCommX next(nullptr);
    next.SetPortNo(9);
    EXPECT_NO_THROW(next.Open());
    next.Close();
}

TEST_F(NativeWindow, TheProgramEndsWhenItsWindowIsDestroyed)
{
    QProcess program;
    const auto window = startProgram(program);
    ASSERT_TRUE(window);
    other_.DestroyWindow(*window);
    ASSERT_TRUE(program.waitForFinished(10000)) << "still running without its window";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// Also while a message box is up over it: the kept port is held by another program, and
// the refusal to open it waits for an OK nobody will click.
TEST_F(NativeWindow, TheProgramEndsWhenItsWindowIsDestroyedUnderABox)
{
    KeptPortRun run;
    QuickCommX holder(nullptr);
    holder.SetPortNo(99);
    holder.Open();

    QProcess program;
    ASSERT_TRUE(startProgram(program, run.Environment()));
    std::optional<xcb_window_t> box, window;
    ASSERT_TRUE(WaitUntil([&] {
        box = other_.ShownWindowOf(program.processId(), "ZUB-3 Manager");
        window = other_.ShownWindowOf(program.processId(), "ZUB-3 Manager Ver.1.1.0 Rev.20101007");
        return box && window && *box != *window;
    })) << "no box came up";
    other_.DestroyWindow(*window);
    ASSERT_TRUE(program.waitForFinished(10000)) << "still running without its window";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    holder.Close();
}

// SIGTERM, SIGINT and SIGHUP end the program as its close button does, in the middle of a
// poll: the poll ends, the port closes and its lock file goes, the status is 0.
TEST_F(NativeWindow, ATerminationSignalClosesTheProgramAsItsCloseButtonDoes)
{
    namespace fs = std::filesystem;
    // The receiver's port and line speed kept from a last run: the program opens it at start.
    KeptPortRun run;
    VirtualReceiver& receiver = run.Receiver();
    const auto locks = [&] {
        return std::distance(fs::directory_iterator(run.LockDir()), fs::directory_iterator{});
    };
    const QProcessEnvironment& env = run.Environment();
    const QPoint knob = FormScale(platform::GetLogPixelsY()).rect({205, 367, 20, 19}).center();

    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        receiver.SetFaults({});
        QProcess program;
        const auto window = startProgram(program, env);
        ASSERT_TRUE(window);
        ASSERT_TRUE(WaitUntil([&] { return locks() == 1; })) << "the port did not open";
        QTest::qWait(300);
        other_.Click(*window, knob);
        const auto polls = receiver.GetCounters().polls;
        ASSERT_TRUE(WaitUntil([&] { return receiver.GetCounters().polls >= polls + 5; }))
            << "monitoring did not start";

        zub3::sim::Faults slow;
        slow.delay = std::chrono::milliseconds(300);
        receiver.SetFaults(slow);
        // A poll heard from now on waits for its reply.
        const auto heard = receiver.GetCounters().polls;
        ASSERT_TRUE(WaitUntil([&] { return receiver.GetCounters().polls > heard + 1; }));
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(10000)) << "still running after the signal";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_EQ(locks(), 0);
    }
}
