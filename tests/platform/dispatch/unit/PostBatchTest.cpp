#include "platform/dispatch/PostBatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace dispatch::test {
namespace {

// Work gathered by a scope runs after its poster, in posting order, and what it posts again to
// its own queue is gathered behind it; other queues and code outside any scope are untouched.
TEST(PostBatch, GathersInOrderAndAgainFromTheGatheredWork) {
    auto queue = Queue::createSerial("batch");
    auto other = Queue::createSerial("other");
    std::vector<std::string> log;  // touched on `queue` only
    Signal done;
    queue->sync([&] {
        {
            PostBatch scope(queue);
            for (int i = 0; i < 3; ++i) {
                PostBatch::post(queue, [&, i] {
                    log.push_back("piece" + std::to_string(i));
                    PostBatch::post(queue, [&, i] { log.push_back("again" + std::to_string(i)); });
                });
            }
            PostBatch::post(other, [&] { done.add(); });  // no scope for `other`: posted now
            log.push_back("poster");
        }
        PostBatch::post(queue, [&] { done.add(); });  // outside the scope: a plain async
    });
    ASSERT_TRUE(done.waitFor(2));
    queue->sync([] {});
    queue->sync([&] {
        EXPECT_EQ(log, (std::vector<std::string>{"poster", "piece0", "piece1", "piece2", "again0",
                                                 "again1", "again2"}));
    });
}

TEST(PostBatch, AThrowingPieceIsReportedAndTheRestStillRun) {
    AssertionRecorder recorder;
    auto queue = Queue::createSerial("batch-thrower");
    Signal ran;
    PostBatch::postAll(queue,
                       {[] { throw std::runtime_error("piece failed"); }, [&] { ran.add(); }});
    ASSERT_TRUE(ran.waitFor(1));
    queue->sync([] {});
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"Uncaught exception in work on queue "
                                                             "'batch-thrower': piece failed"}));
}

}  // namespace
}  // namespace dispatch::test
