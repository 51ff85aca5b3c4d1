// Framework stand-ins: run-time classes, CString, message box, exceptions,
// parallel loops, thread indices and the settings store.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "orbimg.h"

// Host classes with run-time class information (outside any anonymous
// namespace, as a host declares them).
class CHostShape : public CObject {
    DECLARE_DYNAMIC(CHostShape)
};
IMPLEMENT_DYNAMIC(CHostShape, CObject)

class CHostCircle : public CHostShape {
    DECLARE_DYNCREATE(CHostCircle)
};
IMPLEMENT_DYNCREATE(CHostCircle, CHostShape)

namespace {

std::vector<std::wstring> g_messages;
void CollectMessage(const wchar_t* text) { g_messages.emplace_back(text); }

}  // namespace

TEST(RuntimeClass, ChainCreationAndLookUp)
{
    CHostCircle circle;
    EXPECT_STREQ(circle.GetRuntimeClass()->m_lpszClassName, "CHostCircle");
    EXPECT_TRUE(circle.IsKindOf(RUNTIME_CLASS(CHostShape)));
    EXPECT_TRUE(circle.IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(CHostShape().IsKindOf(RUNTIME_CLASS(CHostCircle)));

    EXPECT_EQ(RUNTIME_CLASS(CHostShape)->CreateObject(), nullptr);  // not creatable
    CObject* made = RUNTIME_CLASS(CHostCircle)->CreateObject();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CHostCircle)));
    delete made;

    EXPECT_EQ(CRuntimeClass::FromName("CHostCircle"), RUNTIME_CLASS(CHostCircle));
    EXPECT_EQ(CRuntimeClass::FromName("NoSuchClass"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName(nullptr), nullptr);
}

TEST(CStringText, CaseSearchAndNull)
{
    CString s(L"FinePix S2Pro");
    s.MakeLower();
    EXPECT_EQ(s, L"finepix s2pro");
    EXPECT_EQ(s.Find(L"s2pro"), 8);  // ends at the end
    EXPECT_EQ(s.Find(L"finepixs2pro"), -1);
    EXPECT_EQ(s.Find(L'p', 5), 10);
    EXPECT_EQ(s.Find(L"pix", 99), -1);  // start past the end

    EXPECT_TRUE(CString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
}

TEST(MessageBox, HandlerReceivesTextAndIsRestored)
{
    g_messages.clear();
    AfxMessageBoxHandler previous = AfxSetMessageBoxHandler(&CollectMessage);
    EXPECT_EQ(AfxMessageBox(L"Over!", MB_OK), 1);
    AfxMessageBox(nullptr);
    EXPECT_EQ(AfxSetMessageBoxHandler(previous), &CollectMessage);
    EXPECT_EQ(g_messages, (std::vector<std::wstring>{L"Over!", L""}));
}

TEST(MemoryException, IsBadAllocThrownByValue)
{
    EXPECT_THROW(AfxThrowMemoryException(), CMemoryException);
    EXPECT_THROW(AfxThrowMemoryException(), std::bad_alloc);
    EXPECT_THROW(CVmHandle(-1), CMemoryException);
}

TEST(ParallelFor, EveryIndexOnceWithStep)
{
    // The step does not divide the span: the last index (99) must still run.
    std::vector<std::atomic<int>> hits(103);
    Concurrency::parallel_for(3, 102, 4, [&](int i) { hits[static_cast<std::size_t>(i)].fetch_add(1); });
    for (int i = 0; i < 103; ++i) {
        EXPECT_EQ(hits[static_cast<std::size_t>(i)].load(), (i >= 3 && (i - 3) % 4 == 0) ? 1 : 0) << i;
    }
    int calls = 0;
    Concurrency::parallel_for(5, 5, [&](int) { ++calls; });
    Concurrency::parallel_for(5, 1, [&](int) { ++calls; });
    Concurrency::parallel_for(0, 10, 0, [&](int) { ++calls; });
    EXPECT_EQ(calls, 0);

    EXPECT_THROW(Concurrency::parallel_for(0, 1000,
                                           [](int i) {
                                               if (i == 517) {
                                                   throw std::runtime_error("body failed");
                                               }
                                           }),
                 std::runtime_error);
}

TEST(ThreadIndex, DistinctWhileAliveAndGivenBack)
{
    const int max = CParallel::GetMaxThreads();
    const int mine = CParallel::GetThreadNum();
    EXPECT_EQ(CParallel::GetThreadNum(), mine);

    constexpr int kThreads = 8;
    std::vector<int> seen(kThreads, -1);
    std::atomic<int> ready{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            seen[static_cast<std::size_t>(t)] = CParallel::GetThreadNum();
            ready.fetch_add(1);
            while (ready.load() < kThreads) {  // all alive at once
                std::this_thread::yield();
            }
        });
    }
    threads.clear();  // joins them
    std::set<int> distinct(seen.begin(), seen.end());
    distinct.insert(mine);
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads + 1));
    EXPECT_GE(*distinct.begin(), 0);
    EXPECT_LT(*distinct.rbegin(), max);

    // Indices are given back: many short-lived threads never run out.
    for (int round = 0; round < 3 * max / kThreads; ++round) {
        std::vector<std::jthread> batch;  // joined at the end of the round
        for (int t = 0; t < kThreads; ++t) {
            batch.emplace_back([] { EXPECT_LT(CParallel::GetThreadNum(), CParallel::GetMaxThreads()); });
        }
    }
}

TEST(Registry, ReadWriteConvertAndClear)
{
    CRegistry::Clear();
    int i = -5;
    double d = -5.0;
    EXPECT_EQ(CRegistry::Read(L"Eval", L"Min", 1, &i, 1), 0);  // absent: the default
    EXPECT_EQ(i, 1);

    CRegistry::Write(L"Eval", L"Min", 3);
    CRegistry::Write(L"Psf", L"Max", 7.5);
    // Cross-type reads convert; keys are exact.
    EXPECT_EQ(CRegistry::Read(L"Psf", L"Max", 0, &i, 1), 1);
    EXPECT_EQ(i, 7);
    EXPECT_EQ(CRegistry::Read(L"Eval", L"Min", 0.0, &d), 1);
    EXPECT_EQ(d, 3.0);
    EXPECT_EQ(CRegistry::Read(L"eval", L"Min", 9, &i, 1), 0);
    EXPECT_EQ(i, 9);
    EXPECT_EQ(CRegistry::Read(L"Eval", L"Min", 1, nullptr, 1), 1);
    CRegistry::Clear();
    EXPECT_EQ(CRegistry::Read(L"Eval", L"Min", 1, nullptr, 1), 0);
}
