// The main window on a real X server (ctest runs this under Xvfb on the xcb platform): its
// native window destroyed by another client, without a request to close, as
// `xdotool windowclose` does.
#include "app/ZUB3Check.h"

#include "serial/CommX.h"
#include "sim/VirtualReceiver.h"
#include "support/TempRegistry.h"
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
