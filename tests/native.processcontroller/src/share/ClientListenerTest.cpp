#include <cstring>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "ClientListener.h"
#include "ControllerTestSupport.h"
#include "IPCClient.h"
#include "IPCListener.h"
#include "IPCMessage.h"
#include "IPCMessageType.h"
#include "IPCServer.h"

namespace {

const char* const TRACE_XML = "<trace:traceLevel>all</trace:traceLevel><trace:traceClasses>com.a</trace:traceClasses>";

// Requests through the controller's own pipe, as a client would send them.
class ClientListenerTest : public ControllerTest
{
protected:
    IPCMessage send(const std::string& text)
    {
        std::unique_ptr<IPCClient> client(IPCClient::newInstance("A"));
        client->connect();
        IPCMessage reply = client->sendMessage(IPCMessage(7, text), 30);
        client->disconnect();
        return reply;
    }
};

// Answers as an application would and counts what it was asked.
class RecordingApplication : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& r) override
    {
        std::lock_guard<std::mutex> hold(lock);
        seen.push_back(r.getMessageText());
        return IPCMessage(r.getMessageId(), 0, "app:" + r.getMessageText());
    }
    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> hold(lock);
        return seen;
    }

private:
    std::mutex lock;
    std::vector<std::string> seen;
};

} // namespace

TEST(IPCMessageTypeTest, LeadingLettersDecideTheKind)
{
    EXPECT_EQ(IPCMessageType::fromMessageText("GETSTATUS"), IPCMessageType::GETS);
    EXPECT_EQ(IPCMessageType::fromMessageText("TRAC<x>"), IPCMessageType::TRAC);
    EXPECT_EQ(IPCMessageType::fromMessageText("STOPI"), IPCMessageType::STOPI);
    EXPECT_EQ(IPCMessageType::fromMessageText("STOPCX"), IPCMessageType::STOPC);
    EXPECT_EQ(IPCMessageType::fromMessageText("STOP"), IPCMessageType::UNKNOWN);
    EXPECT_EQ(IPCMessageType::fromMessageText(""), IPCMessageType::UNKNOWN);
    EXPECT_EQ(IPCMessageType::fromMessageText("gets"), IPCMessageType::UNKNOWN);
    std::ostringstream out;
    out << IPCMessageType(IPCMessageType::GETA) << "|" << IPCMessageType();
    EXPECT_EQ(out.str(), "GETA|UNKNOWN");
}

TEST_F(ClientListenerTest, WithoutTheApplicationStatusIsAnsweredAndRelaysFail)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    IPCMessage status = send("GETS");
    EXPECT_EQ(status.getMessageId(), -1);
    EXPECT_EQ(status.getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    EXPECT_EQ(status.getMessageText(), "currentApplicationRestartCount=0,lastApplicationExitCode=78,"
                                       "processControllerStatus=STOPPED   ,totalApplicationRestartCount=0");
    for (const char* text : {"JCOR", "GETA", "HELLO"}) {
        IPCMessage reply = send(text);
        EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_EXCEPTION) << text;
        EXPECT_NE(reply.getMessageText().find("ZRKPC0011"), std::string::npos) << text;
        EXPECT_NE(reply.getMessageText().find(text), std::string::npos) << text;
    }
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ClientListenerTest, StageWakesAndOptionallyChangesTheTraceWithoutTheApplication)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    IPCMessage plain = send("STAG");
    EXPECT_EQ(plain.getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    EXPECT_EQ(plain.getMessageText(), "");
    EXPECT_EQ(c.getTraceSpecification(), "");
    IPCMessage withTrace = send(std::string("STAG") + TRACE_XML);
    EXPECT_EQ(withTrace.getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    EXPECT_EQ(withTrace.getMessageText(), "");
    EXPECT_EQ(c.getTraceSpecification(), "-Dcom.quillon.velbrix.traceSpecification=com.a=all");
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ClientListenerTest, MalformedTraceIsReportedLeftAloneAndStillRelayed)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    int reports = ffdcReports();
    // No level element; a level tag at position 0; classes closing before opening.
    for (const char* text : {"TRAC<trace:traceClasses>com.a</trace:traceClasses>", "<trace:traceLevel>all",
                             "TRAC</trace:traceClasses><trace:traceLevel>x</trace:traceLevel>"}) {
        IPCMessage reply = send(text);
        EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_EXCEPTION) << text;
    }
    EXPECT_EQ(ffdcReports(), reports + 2);   // the second is no TRAC at all: nothing to parse
    // A peer repeating it gets no report per request: ten a minute from this probe at most.
    for (int i = 0; i < 300; ++i) {
        send("TRAC<trace:traceClasses>com.a</trace:traceClasses>");
    }
    EXPECT_EQ(ffdcReports(), reports + 10);
    EXPECT_EQ(c.getTraceSpecification(), "");
    // Relayed, so without the application it fails as a relay does.
    EXPECT_NE(send("TRAC<trace:traceClasses>x</trace:traceClasses>").getMessageText().find("ZRKPC0011"), std::string::npos);
    // A well-formed one without closing tags runs to the end of the text.
    send("TRAC<trace:traceClasses>com.b</trace:traceClasses><trace:traceLevel>flow");
    EXPECT_EQ(c.getTraceSpecification(), "-Dcom.quillon.velbrix.traceSpecification=com.b=flow");
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ClientListenerTest, StopWithoutTheApplicationForcesAndDoesNotWait)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    auto before = std::chrono::steady_clock::now();
    IPCMessage reply = send("STOPI");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    EXPECT_EQ(reply.getMessageText(), "");
    EXPECT_EQ(c.getState(), ProcessControllerState::STOPPED);   // not running: ISTOPPING is refused
    // Once supervising, a stop moves the state and no child starts.
    EXPECT_EQ(c.requestState(ProcessControllerState::WAITING), ProcessControllerState::WAITING);
    send("STOPC");
    EXPECT_EQ(c.getState(), ProcessControllerState::CSTOPPING);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ClientListenerTest, RelaysGoToTheApplicationsPipeOneConnectionPerChild)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    RecordingApplication app;
    std::unique_ptr<IPCServer> appServer(IPCServer::newInstance("PCA", app, -1));
    appServer->connect();
    ClientListener listener(c, "L", "PCA");
    listener.notifyAppStarted();
    IPCMessage reply = listener.onMessage(IPCMessage(9, "GETA"));
    EXPECT_EQ(reply.getMessageId(), 9);   // the application's reply, unchanged
    EXPECT_EQ(reply.getMessageText(), "app:GETA");
    EXPECT_EQ(listener.onMessage(IPCMessage(10, "STOPC")).getMessageText(), "app:STOPC");
    EXPECT_EQ(listener.stopApp(), IPCMessage::STATUS_SUCCESS);
    EXPECT_EQ(app.requests(), (std::vector<std::string>{"GETA", "STOPC", "STOPI"}));
    listener.notifyAppStopped();
    EXPECT_NE(listener.onMessage(IPCMessage(11, "JCOR")).getMessageText().find("ZRKPC0011"), std::string::npos);
    listener.shutdown();
    listener.notifyAppStarted();
    EXPECT_NE(listener.onMessage(IPCMessage(12, "JCOR")).getMessageText().find("ZRKPC0010"), std::string::npos);
    appServer->disconnect();
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ClientListenerTest, ApplicationThatDoesNotServeItsPipeIsTriedSixTimes)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    ClientListener listener(c, "L", "PCA");
    listener.notifyAppStarted();
    auto before = std::chrono::steady_clock::now();
    IPCMessage reply = listener.onMessage(IPCMessage(1, "GETA"));
    auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, std::chrono::milliseconds(4900));   // five waits of one second
    EXPECT_LT(took, std::chrono::milliseconds(15000));
    EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
    EXPECT_NE(reply.getMessageText().find("ZRKNV0066"), std::string::npos);
    // A stop that cannot be relayed: warning, and the controller is forced (nothing runs).
    reply = listener.onMessage(IPCMessage(2, "STOPC"));
    EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_WARNING);
    EXPECT_NE(reply.getMessageText().find("ZRKPC0020"), std::string::npos);
    listener.notifyAppStopped();
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ClientListenerTest, ARequestTheApplicationNeverAnswersTimesOutWhileStatusAndStopStillAnswer)
{
    ProcessController& c = make({agent(), "--mute"});
    ASSERT_EQ(c.initialize(), 0);
    c.setStopLimit(1000);
    ProcessControllerTestAccess::listener(c).setRelayLimit(1500);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0007"));
    auto pending = std::make_shared<std::promise<IPCMessage>>();
    std::future<IPCMessage> geta = pending->get_future();
    std::thread([this, pending] { pending->set_value(send("GETA")); }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(send("GETS").getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    EXPECT_NE(geta.wait_for(std::chrono::seconds(0)), std::future_status::ready) << "status waited for the relay";
    ASSERT_EQ(geta.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the relay has no deadline";
    IPCMessage reply = geta.get();
    EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_TIMEOUT);
    EXPECT_NE(reply.getMessageText().find("ZRKPC0080"), std::string::npos) << reply.getMessageText();
    // An immediate stop the application never answers ends it by force once the stop limit passes.
    IPCMessage stop = send("STOPI");
    EXPECT_EQ(stop.getMessageStatus(), IPCMessage::STATUS_WARNING);
    ASSERT_TRUE(runEnds(20000));
    EXPECT_EQ(c.shutdown(), 0);
}
