// FocuserSim's command line, the fault layer's effect on single replies, and
// the trace's text: everything of the simulator that needs no port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/ControllerEmulator.h"
#include "sim/ControllerFaults.h"
#include "sim/SimulatorOptions.h"

namespace {

using Arguments = std::vector<std::string>;
using Response = ControllerEmulator::Response;

const Fault kAllFaults[] = {Fault::None,      Fault::Silent,    Fault::Garbled, Fault::Short,
                            Fault::Slow,      Fault::Refusing,  Fault::StopAfter, Fault::Chatter};

SimulatorOptions Parse(const Arguments& arguments) {
    SimulatorOptions options;
    std::string error;
    EXPECT_TRUE(ParseSimulatorOptions(arguments, options, error)) << error;
    return options;
}

std::string Rejection(const Arguments& arguments) {
    SimulatorOptions options;
    std::string error;
    EXPECT_FALSE(ParseSimulatorOptions(arguments, options, error)) << arguments.back();
    return error;
}

// --- Command line -------------------------------------------------------------------

TEST(SimulatorOptionsTest, APortAloneGivesAPacedHealthyControllerTracedToTheConsole) {
    const SimulatorOptions options = Parse({"com13"});
    EXPECT_EQ(options.portName, "COM13");
    EXPECT_EQ(options.device, "//./COM13");
    EXPECT_TRUE(options.settings.paced);
    EXPECT_EQ(options.settings.fault.fault, Fault::None);
    EXPECT_EQ(options.settings.startPosition, 10000);
    EXPECT_TRUE(options.trace);
    EXPECT_TRUE(options.traceFile.empty());
    EXPECT_EQ(options.durationSeconds, 0u);
    EXPECT_FALSE(options.help);
}

TEST(SimulatorOptionsTest, EveryOptionIsTaken) {
    const SimulatorOptions options =
        Parse({"--no-pacing", "--position=99999", "--temperature=-3.5", "\\\\.\\COM200",
               "--fault=slow:450", "--trace=C:\\logs\\sim.log", "--duration=60"});
    EXPECT_EQ(options.device, "//./COM200");
    EXPECT_FALSE(options.settings.paced);
    EXPECT_EQ(options.settings.startPosition, 99999);
    EXPECT_DOUBLE_EQ(options.settings.startTemperature, -3.5);
    EXPECT_EQ(options.settings.fault.fault, Fault::Slow);
    EXPECT_EQ(options.settings.fault.amount, 450u);
    EXPECT_EQ(options.traceFile, "C:\\logs\\sim.log");
    EXPECT_EQ(options.durationSeconds, 60u);

    EXPECT_FALSE(Parse({"//./COM1", "--quiet"}).trace);
    EXPECT_TRUE(Parse({"COM1", "--trace=-"}).traceFile.empty()) << "- is the console";
}

TEST(SimulatorOptionsTest, HelpAndVersionWinOverAMissingPort) {
    for (const char* help : {"--help", "-h", "/?"}) EXPECT_TRUE(Parse({help}).help) << help;
    EXPECT_TRUE(Parse({"COM3", "--help"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
}

TEST(SimulatorOptionsTest, EachFaultByNameWithItsDefaultOrGivenAmount) {
    for (const Fault fault : kAllFaults) {
        const SimulatorOptions options = Parse({"COM13", std::string("--fault=") + FaultName(fault)});
        EXPECT_EQ(options.settings.fault.fault, fault) << FaultName(fault);
        EXPECT_EQ(options.settings.fault.amount, DefaultFaultAmount(fault)) << FaultName(fault);
    }
    EXPECT_GT(DefaultFaultAmount(Fault::Slow), 136u) << "slow must miss the driver's read window";
    EXPECT_EQ(Parse({"COM13", "--fault=short:8"}).settings.fault.amount, 8u);
    EXPECT_EQ(Parse({"COM13", "--fault=refuse:7"}).settings.fault.amount, 7u);
    EXPECT_EQ(Parse({"COM13", "--fault=stop-after:0"}).settings.fault.amount, 0u);
    EXPECT_EQ(Parse({"COM13", "--fault=chatter:0"}).settings.fault.amount, 0u);
}

TEST(SimulatorOptionsTest, NonsenseIsRefusedWithAReason) {
    EXPECT_NE(Rejection({}).find("no port"), std::string::npos);
    EXPECT_NE(Rejection({"--no-pacing"}).find("no port"), std::string::npos);
    for (const char* port : {"COM0", "COM256", "COM07", "COMX", "COM", "LPT1", "COM1x", "13"}) {
        EXPECT_NE(Rejection({port}).find("not a COM port"), std::string::npos) << port;
    }
    EXPECT_NE(Rejection({"COM3", "COM4"}).find("more than one port"), std::string::npos);
    for (const char* option : {"--position=100000", "--position=-1", "--position=", "--position",
                               "--position=12ab", "--temperature=61", "--temperature=warm",
                               "--duration=0", "--duration=1.5", "--pacing", "--no-pacing=1",
                               "--fault=noisy", "--fault=silent:3", "--fault=garbled:1",
                               "--fault=short:0", "--fault=short:9", "--fault=slow:0",
                               "--fault=refuse:0", "--fault=slow:", "--fault=", "--frobnicate=1"}) {
        EXPECT_FALSE(Rejection({"COM13", option}).empty()) << option;
    }
}

TEST(SimulatorOptionsTest, UsageExplainsEveryOptionAndFault) {
    const std::string usage = SimulatorUsage();
    for (const char* word : {"Usage: FocuserSim", "PORT", "null-modem", "--position=", "--temperature=",
                             "--no-pacing", "--fault=", "--trace=", "--quiet", "--duration=", "--help",
                             "--version", "mute", "answer", "quit"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
    for (const Fault fault : kAllFaults) {
        if (fault == Fault::None) continue;
        EXPECT_NE(usage.find(std::string("      ") + FaultName(fault)), std::string::npos) << FaultName(fault);
    }
}

// --- Fault layer ------------------------------------------------------------------

// A controller that counts what it acts on and answers each command with a
// fixed reply by kind.
struct CountingController {
    int acted = 0;
    ControllerEmulator::Responder Responder() {
        return [this](const std::string& frame, double) {
            ++acted;
            const std::string command(frame.c_str());
            if (command == "FG0000000") return Response{"FD0001234", 0};
            return Response{"FC0000000", 0};
        };
    }
};

Response Apply(const ControllerFaults& faults, CountingController& controller, const char* command,
               size_t index = 0) {
    return faults.Apply(command, 0.0, index, controller.Responder());
}

TEST(ControllerFaultsTest, SilentAndStoppedControllersNeitherAnswerNorAct) {
    CountingController controller;
    EXPECT_TRUE(Apply(ControllerFaults({Fault::Silent, 0}), controller, "FA000100#").bytes.empty());
    const ControllerFaults stopping({Fault::StopAfter, 2});
    EXPECT_EQ(Apply(stopping, controller, "FG0000000", 1).bytes, "FD0001234");
    EXPECT_TRUE(Apply(stopping, controller, "FG0000000", 2).bytes.empty());
    EXPECT_TRUE(Apply(stopping, controller, "FG0000000", 3).bytes.empty());
    EXPECT_EQ(controller.acted, 1);
}

TEST(ControllerFaultsTest, GarbledRepliesKeepTheirLengthButNoPrintableByte) {
    CountingController controller;
    const Response response = Apply(ControllerFaults({Fault::Garbled, 0}), controller, "FG0000000");
    ASSERT_EQ(response.bytes.size(), 9u);
    for (const char c : response.bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x7f) << "byte " << static_cast<int>(byte);
    }
    EXPECT_EQ(controller.acted, 1) << "the controller heard the command";
}

TEST(ControllerFaultsTest, ARefusingControllerAnswersActionsWithItsCodeAndDoesNotAct) {
    CountingController controller;
    const ControllerFaults refusing({Fault::Refusing, 7});
    for (const char* action : {"FA000100#", "FCS000020", "FCP000000", "FCR000000"}) {
        EXPECT_EQ(Apply(refusing, controller, action).bytes, "FC0000007") << action;
    }
    EXPECT_EQ(controller.acted, 0);
    EXPECT_EQ(Apply(refusing, controller, "FG0000000").bytes, "FD0001234") << "queries are answered";
}

TEST(ControllerFaultsTest, MutingOnDemandSilencesAnyFaultUntilAnsweringResumes) {
    CountingController controller;
    ControllerFaults faults({Fault::Slow, 200});
    ControllerEmulator::Responder responder = faults.Wrap(controller.Responder());
    EXPECT_EQ(responder("FG0000000", 0).bytes, "FD0001234");
    faults.StopAnswering();
    EXPECT_FALSE(faults.Answering());
    EXPECT_TRUE(responder("FG0000000", 0).bytes.empty());
    faults.ResumeAnswering();
    EXPECT_EQ(responder("FG0000000", 0).bytes, "FD0001234");
    EXPECT_EQ(controller.acted, 2);

    // The wrapped responder counts frames for stop-after from the start.
    faults.SetFault({Fault::StopAfter, 3});
    EXPECT_TRUE(responder("FG0000000", 0).bytes.empty()) << "the fourth command";
}

// --- Trace text ---------------------------------------------------------------------

TEST(TraceLineTest, ShowsTimeDirectionAndEveryByteReadably) {
    using Kind = ControllerEmulator::TraceEntry::Kind;
    EXPECT_EQ(ControllerEmulator::TraceLine({1234.5678, Kind::Command, std::string("FCS00001\0", 9)}),
              "  1234.568 ms  in       FCS00001\\0");
    EXPECT_EQ(ControllerEmulator::TraceLine({0.0, Kind::Reply, "FD0000100"}),
              "     0.000 ms  out      FD0000100");
    EXPECT_EQ(ControllerEmulator::TraceLine({2.0, Kind::Unasked, "\xE3\\\x7f\r"}),
              "     2.000 ms  unasked  \\xE3\\\\\\x7F\\x0D");
}

}  // namespace
