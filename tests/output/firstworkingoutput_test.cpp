// SPDX-License-Identifier: GPL-3.0-or-later
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fakeoutput.h"
#include "output/firstworkingoutput.h"

namespace {

// A backend that answers as it is told, and counts how often it was asked.
class ScriptedBackend : public FakeOutput {
public:
    ScriptedBackend(std::string name, OutputAnswer answer)
        : FakeOutput(std::make_shared<Log>()), name_(std::move(name)), answer_(answer)
    {
    }

    const char* name() const override { return name_.c_str(); }
    bool applies() const override { return applies_; }
    bool unanswered() const override { return answer_ == OutputAnswer::Unanswered; }
    bool avoidsUnansweredServer(std::string& error) const override
    {
        if (!avoidsUnanswered_)
            error = "it would ask the same server";
        return avoidsUnanswered_;
    }
    bool prepare(int rate, int channels, std::string& error) override
    {
        ++asked;
        if (answer_ == OutputAnswer::Used)
            return FakeOutput::prepare(rate, channels, error);
        error = answer_ == OutputAnswer::Refused ? "refused" : "no answer";
        return false;
    }

    bool applies_ = true;
    bool avoidsUnanswered_ = true;
    int asked = 0;

private:
    std::string name_;
    OutputAnswer answer_;
};

struct Backends {
    explicit Backends(std::vector<OutputAnswer> answers)
    {
        std::vector<std::unique_ptr<AudioOutput>> owned;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            auto backend = std::make_unique<ScriptedBackend>("backend " + std::to_string(i), answers[i]);
            each.push_back(backend.get());
            owned.push_back(std::move(backend));
        }
        output = std::make_unique<FirstWorkingOutput>(std::move(owned));
    }

    std::vector<ScriptedBackend*> each;
    std::unique_ptr<FirstWorkingOutput> output;
};

// In order: one that does not apply is not asked, one that refuses gives way
// to the next, the first that plays is used, and none after it is asked.
TEST(FirstWorkingOutput, TheFirstBackendThatAppliesAndPlaysIsUsedAndNoneAfterIt)
{
    Backends backends({OutputAnswer::Used, OutputAnswer::Refused, OutputAnswer::Used, OutputAnswer::Used});
    backends.each[0]->applies_ = false;
    std::string error;
    ASSERT_TRUE(backends.output->prepare(44100, 2, error)) << error;
    EXPECT_EQ(backends.each[0]->asked, 0);
    EXPECT_EQ(backends.each[1]->asked, 1);
    EXPECT_EQ(backends.each[2]->asked, 1);
    EXPECT_EQ(backends.each[3]->asked, 0);
    EXPECT_STREQ(backends.output->name(), "backend 2");
    EXPECT_TRUE(backends.output->isOpen());
}

// Once one did not answer, a backend that would wait on the same server is
// not asked; every reason is given.
TEST(FirstWorkingOutput, AfterAServerThatDidNotAnswerOnlyABackendThatAvoidsItIsAsked)
{
    Backends backends({OutputAnswer::Unanswered, OutputAnswer::Used});
    backends.each[1]->avoidsUnanswered_ = false;
    std::string error;
    EXPECT_FALSE(backends.output->prepare(44100, 2, error));
    EXPECT_EQ(backends.each[1]->asked, 0);
    EXPECT_EQ(error, "no backend 0 (no answer) and no backend 1 (it would ask the same server)");

    backends.each[1]->avoidsUnanswered_ = true;
    EXPECT_TRUE(backends.output->prepare(44100, 2, error)) << error;
    EXPECT_EQ(backends.each[1]->asked, 1);
}

// Asked again while one is open, the open one prepares the next segment; once
// it is closed, the list is asked again from its start.
TEST(FirstWorkingOutput, TheOpenBackendIsKeptAndTheListAskedAgainOnceItIsClosed)
{
    Backends backends({OutputAnswer::Refused, OutputAnswer::Used});
    std::string error;
    ASSERT_TRUE(backends.output->prepare(44100, 2, error));
    ASSERT_TRUE(backends.output->prepare(48000, 2, error));
    EXPECT_EQ(backends.each[0]->asked, 1);
    EXPECT_EQ(backends.each[1]->asked, 2);
    backends.output->close();
    ASSERT_TRUE(backends.output->prepare(44100, 2, error));
    EXPECT_EQ(backends.each[0]->asked, 2);
}

// Once the engine stops, no backend is asked.
TEST(FirstWorkingOutput, NoBackendIsAskedOnceItsWaitsAreAbandoned)
{
    Backends backends({OutputAnswer::Used});
    backends.output->abandonWaits();
    std::string error;
    EXPECT_FALSE(backends.output->prepare(44100, 2, error));
    EXPECT_EQ(backends.each[0]->asked, 0);
    EXPECT_EQ(error, "the engine is stopping");
}

} // namespace
