#include "platform/var.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Var, ReadsEachTypeAndNeutralValuesForOthers) {
  EXPECT_TRUE(pp::Var().is_undefined());
  EXPECT_TRUE(pp::Var(pp::Var::Null()).is_null());
  EXPECT_TRUE(pp::Var(true).AsBool());
  EXPECT_EQ(pp::Var(int32_t{-7}).AsInt(), -7);
  EXPECT_DOUBLE_EQ(pp::Var(2.5).AsDouble(), 2.5);
  EXPECT_EQ(pp::Var("abc").AsString(), "abc");
  // A value of another type reads as the neutral value.
  EXPECT_EQ(pp::Var(int32_t{5}).AsString(), "");
  EXPECT_FALSE(pp::Var("true").AsBool());
  EXPECT_EQ(pp::Var("12").AsInt(), 0);
}

TEST(Var, StringHoldsAnyBytes) {
  const std::string bytes("a\0b\xff\xfe", 5);
  pp::Var value(bytes);
  EXPECT_EQ(value.AsString().size(), 5u);
  EXPECT_EQ(value.AsString(), bytes);
}

TEST(VarDictionary, CopiesAreIndependentValues) {
  pp::VarDictionary original;
  original.Set("key", pp::Var("one"));
  pp::VarDictionary copy = original;
  copy.Set("key", pp::Var("two"));
  copy.Set("other", pp::Var(int32_t{1}));
  EXPECT_EQ(original.Get("key").AsString(), "one");
  EXPECT_FALSE(original.HasKey("other"));
  EXPECT_EQ(copy.Get("key").AsString(), "two");
  EXPECT_EQ(copy.GetKeys().GetLength(), 2u);
}

TEST(VarDictionary, NonDictionaryReadsAsEmpty) {
  for (const pp::Var& var : {pp::Var(), pp::Var("text"), pp::Var(int32_t{3}),
                             static_cast<pp::Var>(pp::VarArray())}) {
    pp::VarDictionary dict(var);
    EXPECT_EQ(dict.GetKeys().GetLength(), 0u) << var.DebugString();
    EXPECT_TRUE(dict.Get("key").is_undefined());
  }
}

TEST(VarDictionary, KeepsEntriesThroughPlainVar) {
  pp::VarDictionary dict;
  dict.Set("a", pp::Var("1"));
  pp::Var as_var = dict;
  EXPECT_TRUE(as_var.is_dictionary());
  EXPECT_EQ(pp::VarDictionary(as_var).Get("a").AsString(), "1");
  EXPECT_EQ(as_var, dict);
}

TEST(VarArray, GrowsAndCopiesOnWrite) {
  pp::VarArray array;
  array.Set(2, pp::Var("x"));
  EXPECT_EQ(array.GetLength(), 3u);
  EXPECT_TRUE(array.Get(0).is_undefined());
  pp::VarArray copy = array;
  copy.Push(pp::Var(true));
  EXPECT_EQ(array.GetLength(), 3u);
  EXPECT_EQ(copy.GetLength(), 4u);
  EXPECT_TRUE(array.Get(10).is_undefined());
}

// Copies of one value are taken, read and written on several threads at once;
// ThreadSanitizer builds check that copies share no unsynchronised state.
TEST(Var, CopiesAreSafeAcrossThreads) {
  pp::VarDictionary shared;
  shared.Set("SET_PLAYTIME", pp::Var("1500"));
  shared.Set("nested", pp::VarDictionary());
  const pp::Var source = shared;

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    pp::Var mine = source;  // each thread starts from its own copy
    threads.emplace_back([mine, t]() mutable {
      for (int i = 0; i < 2000; ++i) {
        pp::VarDictionary copy(mine);
        copy.Set("thread", pp::Var(int32_t{t}));
        copy.Set("i", pp::Var(std::to_string(i)));
        pp::Var again = copy;
        ASSERT_EQ(pp::VarDictionary(again).Get("SET_PLAYTIME").AsString(), "1500");
        if (i % 3 == 0) mine = again;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(pp::VarDictionary(source).GetKeys().GetLength(), 2u);
}

}  // namespace
