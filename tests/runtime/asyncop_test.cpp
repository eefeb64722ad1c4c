// Async operations: the list, stepping by the script, running to completion, freeing.
#include "runtime/asyncop.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <new>
#include <string>
#include <vector>

// A job of a fixed number of steps; the log records steps and frees in order.
struct CountingJob {
    lvAsyncOperation head;   // the async head
    int stepsLeft;           // steps until done
    int results;             // results the finishing step reports
    int failAt;              // step number that fails (-1 none)
    int finishCode;          // code the finishing step returns (0 or ERR_USERABORT)
    int stepped;             // steps taken
    std::vector<std::string> *log;  // shared log
    std::string name;        // its name in the log
};

static int CountingStep(lvState *, lvAsyncOperation *operation, int *done)
{
    CountingJob *job = (CountingJob *)operation;
    job->stepped++;
    job->log->push_back(job->name + " step");
    if (job->stepped == job->failAt) return ERR_READ;
    if (--job->stepsLeft > 0) return 0;
    if (job->finishCode) return job->finishCode;
    *done = 1;
    return job->results;
}

static void CountingFree(lvState *, lvAsyncOperation *operation)
{
    CountingJob *job = (CountingJob *)operation;
    job->log->push_back(job->name + " free");
    job->~CountingJob();
}

static CountingJob *NewJob(std::vector<std::string> *log, const char *name, int steps, int results = 0,
                           int failAt = -1, int finishCode = 0)
{
    void *block = AllocMemory(sizeof(CountingJob), 1);
    CountingJob *job = new (block) CountingJob();
    InitAsyncOperation(&job->head, CountingStep, CountingFree, 0);
    job->stepsLeft = steps;
    job->results = results;
    job->failAt = failAt;
    job->finishCode = finishCode;
    job->log = log;
    job->name = name;
    return job;
}

class AsyncOperations : public testing::Test {
protected:
    void TearDown() override
    {
        FreeAsyncOperations(nullptr);
        SetAsyncHooks(nullptr);
    }
};

TEST_F(AsyncOperations, ContinueStepsUntilDoneAndRemoves)
{
    std::vector<std::string> log;
    CountingJob *job = NewJob(&log, "a", 3, 2);
    EXPECT_EQ(job->head.header.type, LV_ASYNCOBJ);
    EXPECT_EQ(job->head.header.handle, (void *)job);
    EXPECT_EQ(AddAsyncOperation(&job->head), 1);
    lvObjectId id = GetObjectIdOf(&job->head.header);
    int done = -1;
    for (int i = 0; i < 2; i++) {
        lvAsyncOperation *op;
        ASSERT_EQ(FindAsyncOperation(id, &op), 0);
        EXPECT_EQ(ContinueAsyncOperation(nullptr, op, &done), 0);
        EXPECT_EQ(done, 0);
    }
    lvAsyncOperation *op;
    ASSERT_EQ(FindAsyncOperation(id, &op), 0);
    EXPECT_EQ(ContinueAsyncOperation(nullptr, op, &done), 2);  // two results, then gone
    EXPECT_EQ(done, 1);
    EXPECT_EQ(FindAsyncOperation(id, &op), ERR_FINDARRAY);
    EXPECT_EQ(log, (std::vector<std::string>{"a step", "a step", "a step", "a free"}));
}

TEST_F(AsyncOperations, FinishedByAbortCodeAndErrorsStayListed)
{
    std::vector<std::string> log;
    CountingJob *job = NewJob(&log, "b", 2, 0, 2, ERR_USERABORT);
    AddAsyncOperation(&job->head);
    int done;
    EXPECT_EQ(ContinueAsyncOperation(nullptr, &job->head, &done), 0);
    EXPECT_EQ(ContinueAsyncOperation(nullptr, &job->head, &done), ERR_READ);  // stays
    EXPECT_EQ(done, 0);
    EXPECT_EQ(*GetAsyncOperationList(), &job->head.header);
    EXPECT_EQ(ContinueAsyncOperation(nullptr, &job->head, &done), 0);  // 1003: finished
    EXPECT_EQ(done, 1);
    EXPECT_EQ(*GetAsyncOperationList(), nullptr);
    EXPECT_EQ(log.back(), "b free");
}

TEST_F(AsyncOperations, NumbersAndUnknownHandlesAreNotFound)
{
    lvAsyncOperation *op;
    EXPECT_EQ(FindAsyncOperation(lvObjectId{3, nullptr}, &op), ERR_FINDASYNCOBJ);
    EXPECT_EQ(GetErrorState()->numberArg, 3);
    int dummy;
    EXPECT_EQ(FindAsyncOperation(lvObjectId{0, &dummy}, &op), ERR_FINDARRAY);
    EXPECT_EQ(CancelAsyncOperation(nullptr, lvObjectId{0, &dummy}), ERR_FINDARRAY);
}

TEST_F(AsyncOperations, CancelAndShutDownFreeInOrder)
{
    std::vector<std::string> log;
    CountingJob *a = NewJob(&log, "a", 5), *b = NewJob(&log, "b", 5), *c = NewJob(&log, "c", 5);
    AddAsyncOperation(&a->head);
    AddAsyncOperation(&b->head);
    AddAsyncOperation(&c->head);
    EXPECT_EQ(CancelAsyncOperation(nullptr, GetObjectIdOf(&b->head.header)), 0);
    FreeAsyncOperations(nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"b free", "a free", "c free"}));
}

TEST_F(AsyncOperations, RunToCompletionPollsBetweenStepsAndAlwaysReleases)
{
    struct Poll {
        int calls = 0;
        int quitAt = -1;
    };
    static Poll poll;
    lvAsyncHooks hooks = {[](lvState *, int mode) {
                              EXPECT_EQ(mode, 2);
                              return ++poll.calls == poll.quitAt ? (int)ERR_USERABORT : 0;
                          },
                          nullptr};
    SetAsyncHooks(&hooks);
    std::vector<std::string> log;
    poll = Poll{};
    EXPECT_EQ(RunAsyncToCompletion(nullptr, &NewJob(&log, "a", 4)->head), 0);
    EXPECT_EQ(poll.calls, 4);
    EXPECT_EQ(log.size(), 5u);
    EXPECT_EQ(log.back(), "a free");
    // A quit seen by the poll ends the job quietly, after its free function ran.
    log.clear();
    poll = Poll{0, 2};
    EXPECT_EQ(RunAsyncToCompletion(nullptr, &NewJob(&log, "q", 10)->head), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"q step", "q step", "q free"}));
    // An error ends it and is returned; results of the last step are its count.
    log.clear();
    poll = Poll{};
    EXPECT_EQ(RunAsyncToCompletion(nullptr, &NewJob(&log, "e", 10, 0, 3)->head), ERR_READ);
    EXPECT_EQ(log.back(), "e free");
    EXPECT_EQ(RunAsyncToCompletion(nullptr, &NewJob(&log, "r", 1, 2)->head), 2);
    EXPECT_EQ(*GetAsyncOperationList(), nullptr);  // never listed
}
