// Callbacks run in-process on the shipped panel, against the recording fake.
// Every value the program shows and every chart plot is noted in the fake's
// call log, so one log tells the order of library calls and panel writes.
#pragma once

#include "driver_fixture.h"
#include "indicators.h"
#include "log_file.h"
#include "railmon-ctrl.h"
#include "userint_testing.h"

#include <QAbstractButton>
#include <QWidget>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

class PanelTest : public DriverTest {
public:
    // As the call log writes a double.
    static std::string number(double value)
    {
        std::ostringstream text;
        text << value;
        return text.str();
    }

protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        static char name[] = "callbacks", platform[] = "-platform", offscreen[] = "offscreen";
        static char* argv[] = {name, platform, offscreen, nullptr};
        ASSERT_TRUE(InitCVIRTEEx(0, argv, 0));
        pnl = LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
        ASSERT_GT(pnl, 0);
        useFake("complete");
        ASSERT_EQ(TMI_Open(), 1);
        TMI_OpenHandle(dev, usb);
        clearFakeLog();
        workDir_ = makeTempDir();
        previousDir_ = std::filesystem::current_path();
        std::filesystem::current_path(workDir_);

        uiTestHooks().valueSet = [](int, int control, double value) {
            note("SetCtrlVal " + std::to_string(control) + " " + number(value));
        };
        uiTestHooks().plotted = [](int, int control, const double* values, int count) {
            std::string line = "PlotStripChart " + std::to_string(control);
            for (int k = 0; k < count; ++k)
                line += " " + number(values[k]);
            note(line);
        };
    }

    void TearDown() override
    {
        uiTestHooks().valueSet = nullptr;
        uiTestHooks().plotted = nullptr;
        LogClose();
        gFp = nullptr;
        DiscardPanel(pnl);
        std::filesystem::current_path(previousDir_);
        std::filesystem::remove_all(workDir_);
        DriverTest::TearDown();
    }

    static void note(const std::string& line)
    {
        if (auto fn = reinterpret_cast<void (*)(const char*)>(GetProcAddress(TMI_APIDll, "TMI_FakeNote")))
            fn(line.c_str());
    }
    static std::vector<std::string> calls() { return linesOf(fakeLog()); }

    // The log lines one monitor sweep of channel index ch makes, followed by
    // its three indicator writes.
    static std::vector<std::string> sweepAndShow(int ch, int code)
    {
        const std::string n = std::to_string(ch + 1);
        return {"TMI_TimeOut 7 1",
                "TMI_Refresh 7",
                "TMI_MoniDataQ 7 " + n,
                "SetCtrlVal " + std::to_string(vmon[ch]) + " " + number(fakeMoniVolts(ch + 1)),
                "SetCtrlVal " + std::to_string(imon[ch]) + " " + number(fakeMoniAmps(ch + 1)),
                "SetCtrlVal " + std::to_string(cvcc[ch]) + " " + std::to_string(code)};
    }

    // Operates a switch or button as the operator would: one commit event.
    static void click(const char* callback)
    {
        qobject_cast<QAbstractButton*>(uiControlByCallback(pnl, callback))->click();
    }
    static QObject* control(int id) { return uiControlObject(pnl, id); }
    static int controlId(const char* callback)
    {
        return uiControlByCallback(pnl, callback)->property("ctrlId").toInt();
    }

    const std::string& workDirectory() const { return workDir_; }

    std::string workDir_;
    std::filesystem::path previousDir_;
};

// What a status field shows, and its colour (VAL_DEFAULT_COLOR for none).
inline std::string statusText(int id)
{
    return qobject_cast<TextMessage*>(uiControlObject(pnl, id))->text().toStdString();
}
inline int statusColour(int id)
{
    return qobject_cast<TextMessage*>(uiControlObject(pnl, id))->programColour();
}

template <typename... Parts>
std::vector<std::string> concat(const Parts&... parts)
{
    std::vector<std::string> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}
