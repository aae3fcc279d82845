// The main window on a real X server (ctest runs this under Xvfb on the xcb platform): its
// native window destroyed by another client, without a request to close, as
// `xdotool windowclose` does; the program ended by a signal while it polls.
#include "app/ZUB3Check.h"

#include "app/FormData.h"

#include "serial/CommX.h"
#include "sim/VirtualReceiver.h"
#include "support/TempRegistry.h"
#include "toolkit/DesktopMetrics.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "widgets/ComComboBox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
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
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

    // A press and release of the key that gives keysym, sent to window.
    void Key(xcb_window_t window, xcb_keysym_t keysym)
    {
        for (const std::uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
            xcb_key_press_event_t e{};
            e.response_type = type;
            e.detail = keycode(keysym);
            e.root = root();
            e.event = window;
            e.same_screen = 1;
            send(window, &e);
        }
    }

    // The mapped top-level window that the process pid has put up.
    std::optional<xcb_window_t> ShownWindowOf(qint64 pid)
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
                    static_cast<std::uint32_t>(pid))
                return w;
        }
        return std::nullopt;
    }

private:
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

    xcb_keycode_t keycode(xcb_keysym_t keysym)
    {
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
            xcb_get_keyboard_mapping_reply(
                connection_,
                xcb_get_keyboard_mapping(connection_, setup->min_keycode,
                                         static_cast<std::uint8_t>(count)),
                nullptr),
            &std::free);
        if (!map)
            return 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
        for (int k = 0; k < count; ++k)
            for (int i = 0; i < map->keysyms_per_keycode; ++i)
                if (syms[k * map->keysyms_per_keycode + i] == keysym)
                    return static_cast<xcb_keycode_t>(setup->min_keycode + k);
        return 0;
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

bool waitFor(const std::function<bool()>& condition, int limitMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > limitMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

class NativeWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        ASSERT_TRUE(other_.Connected());
        previousHook_ = SetMessageBoxHook([this](const MessageRecord& m) { messages_.push_back(m); });
    }
    void TearDown() override { SetMessageBoxHook(previousHook_); }

    OtherClient other_;
    std::vector<MessageRecord> messages_;
    MessageBoxHook previousHook_;
};

}  // namespace

TEST_F(NativeWindow, DestroyedFromOutsideEndsTheToolAsACloseDoes)
{
    TempRegistry registry;
    VirtualReceiver::Config config;
    config.bitRate = 115200;
    VirtualReceiver receiver(config);
    WriteEntry("zub3sim", ValueType::String, "COM9", receiver.SlavePath());

    TMainForm form;
    form.cbxPort->showPopup();
    form.cbxPort->hidePopup();
    const int port = form.cbxPort->findText("COM9");
    ASSERT_GE(port, 0);
    form.cbxPort->setCurrentIndex(port);
    emit form.cbxPort->activated(port);
    ASSERT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    form.cbxBaudRate->setCurrentIndex(0);
    const int fastest = form.cbxInterval->findText("5");
    form.cbxInterval->setCurrentIndex(fastest);
    emit form.cbxInterval->activated(fastest);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mousePress(form.shpPower, Qt::LeftButton);
    ASSERT_TRUE(form.Monitoring);
    ASSERT_TRUE(waitFor([&] { return receiver.GetCounters().polls >= 20; }));

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
    EXPECT_TRUE(messages_.empty());

    // Polling has stopped and the port is free for another copy of the tool.
    const auto polls = receiver.GetCounters().polls;
    QTest::qWait(100);
    EXPECT_EQ(receiver.GetCounters().polls, polls);
    TCommX next(nullptr);
    next.SetPortNo(9);
    EXPECT_NO_THROW(next.Open());
    next.Close();
}

TEST_F(NativeWindow, TheProgramEndsWhenItsWindowIsDestroyed)
{
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(ZUB3MANAGER_PATH, QStringList{});
    ASSERT_TRUE(program.waitForStarted());
    std::optional<xcb_window_t> window;
    ASSERT_TRUE(waitFor([&] {
        window = other_.ShownWindowOf(program.processId());
        return window.has_value();
    }));

    other_.DestroyWindow(*window);
    ASSERT_TRUE(program.waitForFinished(10000)) << "still running without its window";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// SIGTERM, SIGINT and SIGHUP end the program as its close button does, in the middle of a
// poll: the poll ends, the port closes and its lock file goes, the status is 0.
TEST_F(NativeWindow, ATerminationSignalClosesTheProgramAsItsCloseButtonDoes)
{
    namespace fs = std::filesystem;
    TempRegistry registry;
    const fs::path runtime = registry.Root() / "xdg";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    SetLocation({runtime / "zub3" / "serialcomm", registry.Root() / "sys", "/dev", {}});
    VirtualReceiver::Config config;
    config.bitRate = 115200;
    VirtualReceiver receiver(config);
    WriteEntry("zub3sim", ValueType::String, "COM99", receiver.SlavePath());
    const auto locks = [&] {
        return std::distance(fs::directory_iterator(registry.LockDir()), fs::directory_iterator{});
    };

    // Where the controls are, as the program lays them out on this display.
    const FormScale s(platform::GetLogPixelsY());
    const QPoint group = s.point(112, 8);
    const QPoint port = group + s.rect({84, 18, 80, 20}).center();
    const QPoint speed = group + s.rect({84, 66, 80, 20}).center();
    const QPoint knob = s.rect({205, 367, 20, 19}).center();
    constexpr xcb_keysym_t kHome = 0xff50, kEnd = 0xff57, kReturn = 0xff0d;

    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        receiver.SetFaults({});
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((registry.Root() / "config").string()));
        env.insert("ZUB3_LOCK_DIR", QString::fromStdString(registry.LockDir().string()));
        program.setProcessEnvironment(env);
        program.start(ZUB3MANAGER_PATH, QStringList{});
        ASSERT_TRUE(program.waitForStarted());
        std::optional<xcb_window_t> window;
        ASSERT_TRUE(waitFor([&] {
            window = other_.ShownWindowOf(program.processId());
            return window.has_value();
        }));

        // The receiver's port (the last of the list), its line speed, the knob.
        QTest::qWait(300);
        other_.Click(*window, port);
        QTest::qWait(300);
        other_.Key(*window, kEnd);
        other_.Key(*window, kReturn);
        ASSERT_TRUE(waitFor([&] { return locks() == 1; })) << "the port did not open";
        other_.Click(*window, speed);
        QTest::qWait(300);
        other_.Key(*window, kHome);
        other_.Key(*window, kReturn);
        QTest::qWait(100);
        other_.Click(*window, knob);
        const auto polls = receiver.GetCounters().polls;
        ASSERT_TRUE(waitFor([&] { return receiver.GetCounters().polls >= polls + 5; }))
            << "monitoring did not start";

        zub3::sim::Faults slow;
        slow.delay = std::chrono::milliseconds(300);
        receiver.SetFaults(slow);
        QTest::qWait(100);  // a poll now waits for its reply
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(10000)) << "still running after the signal";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_EQ(locks(), 0);
    }
}
