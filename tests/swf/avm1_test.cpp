// The script interpreter on byte code the tests assemble: conversions per version, number
// printing, the scope chain and closures, exceptions, arrays, the collector and the limits.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "avm1_asm.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/stage.h"
#include "test_support.h"

namespace dbx::swf::avm1 {
namespace {

using test::Asm;
using test::Reg;
using test::Undef;

// Runs `code` as a frame script on a plain timeline object and returns the trace lines.
std::vector<std::string> RunScriptLines(Asm& code, int version = 10, Limits limits = {}) {
  Vm vm(version, limits);
  std::vector<std::string> lines;
  vm.traceSink = [&](std::string_view s) { lines.emplace_back(s); };
  Object* timeline = vm.NewObject();
  vm.BeginFrameBudget();
  vm.RunScript(code.Build(), timeline);
  return lines;
}

std::string RunOne(Asm& code, int version = 10) {
  auto lines = RunScriptLines(code, version);
  return lines.empty() ? "<nothing>" : lines.back();
}

TEST(Avm1Numbers, PrintedAsThePlayerPrintsThem) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-42, "-42"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {123456789012345, "123456789012345"},
      {1e15, "1e+15"},
      {1.5e15, "1.5e+15"},
      {1e21, "1e+21"},
      {0.0001, "0.0001"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {-1.25e-7, "-1.25e-7"},
      {std::nan(""), "NaN"},
      {inf, "Infinity"},
      {-inf, "-Infinity"},
      {-6.77681005680576e+19, "-6.77681005680576e+19"},
      // At the top of the range the digits that would round past the largest double are cut.
      {std::numeric_limits<double>::max(), "1.79769313486231e+308"},
      {-std::numeric_limits<double>::max(), "-1.79769313486231e+308"},
      {1.7976931348623e308, "1.7976931348623e+308"},
      {9.999999999999999e307, "1e+308"},
  };
  for (auto& [n, text] : cases) EXPECT_EQ(NumberToString(n), text) << n;
  EXPECT_EQ(NumberToRadixString(255, 16), "ff");
  EXPECT_EQ(NumberToRadixString(-5, 2), "-101");
  // NaN in another radix: the lowest 32-bit integer, its digits from negative remainders.
  EXPECT_EQ(NumberToRadixString(std::nan(""), 16), "-(0000000");
  EXPECT_EQ(NumberToRadixString(std::nan(""), 2), "-/" + std::string(31, '0'));
  EXPECT_EQ(NumberToRadixString(std::nan(""), 17), "-+- )!+,'");
  EXPECT_EQ(NumberToRadixString(std::nan(""), 10), "NaN");
  EXPECT_EQ(NumberToRadixString(inf, 16), "Infinity");
}

TEST(Avm1Conversions, DependOnTheVersion) {
  Value undef;
  // ToNumber(undefined) is 0 before SWF 7 and NaN from then on.
  EXPECT_EQ(PrimitiveToNumber(undef, 6), 0);
  EXPECT_TRUE(std::isnan(PrimitiveToNumber(undef, 7)));
  // Undefined prints as "" before SWF 7.
  EXPECT_EQ(PrimitiveToString(undef, 6), "");
  EXPECT_EQ(PrimitiveToString(undef, 7), "undefined");
  // SWF 4 prints booleans as numbers.
  EXPECT_EQ(PrimitiveToString(Value(true), 4), "1");
  EXPECT_EQ(PrimitiveToString(Value(true), 5), "true");
  // Text to number.
  const struct {
    const char* text;
    int version;
    double expected;  // NaN compares through isnan
  } numbers[] = {{"12", 5, 12},       {" 12", 6, 12},          {"12 ", 6, NAN},
                 {"12abc", 5, NAN},   {"12abc", 4, 12},        {"", 5, NAN},
                 {"", 4, 0},          {"0x1F", 6, 31},         {"0x1F", 5, NAN},
                 {"-1.5e2", 7, -150}, {"Infinity", 7, NAN},    {"abc", 4, 0},
                 {"010", 6, 8},       {"010", 5, 10},          {" 010", 6, 10},
                 {"-010", 7, -8},     {"037777777777", 7, -1}, {"-037777777777", 7, 1}};
  for (auto& c : numbers) {
    double got = StringToNumber(c.text, c.version);
    if (std::isnan(c.expected))
      EXPECT_TRUE(std::isnan(got)) << c.text << " v" << c.version;
    else
      EXPECT_EQ(got, c.expected) << c.text << " v" << c.version;
  }
  // Script numbers used as frames, depths and indices stay within int.
  EXPECT_EQ(ClampToInt(std::nan("")), 0);
  EXPECT_EQ(ClampToInt(2.7), 2);
  EXPECT_EQ(ClampToInt(-2.7), -2);
  EXPECT_EQ(ClampToInt(1e20), 1 << 30);
  EXPECT_EQ(ClampToInt(-1e20), -(1 << 30));
  // A non-empty text is true from SWF 7; before, it is true only as a non-zero number.
  EXPECT_TRUE(ToBoolean(Value("abc"), 7));
  EXPECT_FALSE(ToBoolean(Value("abc"), 6));
  EXPECT_TRUE(ToBoolean(Value("2"), 6));
}

TEST(Avm1Interpreter, ArithmeticStringsAndComparisons) {
  struct Case {
    std::function<void(Asm&)> code;
    int version;
    const char* expected;
  };
  const Case cases[] = {
      {[](Asm& a) {
         a.Push({1, 2}).Op(0x47).Trace();
       },
       10, "3"},
      {[](Asm& a) {
         a.Push({"1", 2}).Op(0x47).Trace();
       },
       10, "12"},
      {[](Asm& a) {
         a.Push({Undef{}, 1}).Op(0x47).Trace();
       },
       6, "1"},
      {[](Asm& a) {
         a.Push({Undef{}, 1}).Op(0x47).Trace();
       },
       7, "NaN"},
      {[](Asm& a) {
         a.Push({"a", Undef{}}).Op(0x47).Trace();
       },
       6, "a"},
      {[](Asm& a) {
         a.Push({"a", Undef{}}).Op(0x47).Trace();
       },
       7, "aundefined"},
      {[](Asm& a) {
         a.Push({1, 0}).Op(0x0D).Trace();
       },
       4, "#ERROR#"},
      {[](Asm& a) {
         a.Push({1, 0}).Op(0x0D).Trace();
       },
       5, "Infinity"},
      {[](Asm& a) {
         a.Push({2, 3}).Op(0x0E).Trace();
       },
       4, "0"},
      {[](Asm& a) {
         a.Push({2, 3}).Op(0x0E).Op(0x44).Trace();
       },
       4, "boolean"},
      {[](Asm& a) {
         a.Push({2, 3}).Op(0x0F).Trace();
       },
       5, "true"},
      {[](Asm& a) {
         a.Push({"10", "9"}).Op(0x48).Trace();
       },
       10, "true"},
      {[](Asm& a) {
         a.Push({10, "9"}).Op(0x48).Trace();
       },
       10, "false"},
      {[](Asm& a) {
         a.Push({std::nan(""), 1}).Op(0x48).Trace();
       },
       10, "undefined"},
      {[](Asm& a) {
         a.Push({"1", 1}).Op(0x49).Trace();
       },
       10, "true"},
      {[](Asm& a) {
         a.Push({"1", 1}).Op(0x66).Trace();
       },
       10, "false"},
      {[](Asm& a) {
         a.Push({Undef{}, test::Null{}}).Op(0x49).Trace();
       },
       10, "true"},
      {[](Asm& a) {
         a.Push({-1, 28}).Op(0x65).Trace();
       },
       10, "15"},
      {[](Asm& a) {
         a.Push({7, 3}).Op(0x3F).Trace();
       },
       10, "1"},
      {[](Asm& a) {
         a.Push({"hello", 2, 3}).Op(0x15).Trace();
       },
       4, "ell"},
      {[](Asm& a) { a.Push({"x"}).Op(0x44).Trace(); }, 10, "string"},
      {[](Asm& a) { a.Push({Undef{}}).Trace(); }, 6, "undefined"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    Asm a;
    cases[i].code(a);
    EXPECT_EQ(RunOne(a, cases[i].version), cases[i].expected) << "case " << i;
  }
}

TEST(Avm1Interpreter, ComparisonsTakeOnlyValueOf) {
  struct Case {
    std::function<void(Asm&)> left;
    int version;
    const char* expected;  // left < 1
  };
  const Case cases[] = {
      {[](Asm& a) { a.Get("_global"); }, 6, "true"},  // no valueOf: undefined, 0 before SWF 7
      {[](Asm& a) { a.Get("_global"); }, 7, "undefined"},
      {[](Asm& a) { a.Push({0}).Op(0x43); }, 6, "undefined"},  // {} stays an object
      {[](Asm& a) { a.Push({0}).Op(0x43); }, 5, "false"},
      {[](Asm& a) { a.Push({"0"}); }, 6, "true"},
      {[](Asm& a) { a.Push({"x"}); }, 6, "undefined"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    Asm a;
    cases[i].left(a);
    a.Push({1}).Op(0x48).Trace();
    EXPECT_EQ(RunOne(a, cases[i].version), cases[i].expected) << "case " << i;
  }
}

TEST(Avm1Interpreter, Swf4EqualsConvertsTheRightOperandFirst) {
  auto noisy = [](Asm& a, const char* name) {
    a.Push({"valueOf"});
    a.Function("", {}, [name](Asm& f) { f.Push({name}).Trace().Push({1}).Op(0x3E); });
    a.Push({1}).Op(0x43);
  };
  Asm eq;
  noisy(eq, "left");
  noisy(eq, "right");
  eq.Op(0x0E).Trace();
  EXPECT_EQ(RunScriptLines(eq), (std::vector<std::string>{"right", "left", "true"}));
  Asm add;  // Add converts in reading order
  noisy(add, "left");
  noisy(add, "right");
  add.Op(0x0A).Trace();
  EXPECT_EQ(RunScriptLines(add), (std::vector<std::string>{"left", "right", "2"}));
}

TEST(Avm1Interpreter, LoopsWithJumpsAndRegisters) {
  // for (r1 = 0, r2 = 0; r1 < 100; r1++) r2 += r1; trace(r2)
  Asm a;
  a.Push({0}).StoreRegister(1).Op(0x17).Push({0}).StoreRegister(2).Op(0x17);
  a.Label("top").Push({Reg{1}, 100}).Op(0x48).Op(0x12).If("done");
  a.Push({Reg{2}, Reg{1}}).Op(0x47).StoreRegister(2).Op(0x17);
  a.Push({Reg{1}}).Op(0x50).StoreRegister(1).Op(0x17).Jump("top");
  a.Label("done").Push({Reg{2}}).Trace();
  EXPECT_EQ(RunOne(a), "4950");
}

TEST(Avm1Interpreter, ScopeChainAndClosures) {
  // function make() { var n = 0; return function () { n++; return n; }; }
  // var c = make(); c(); c(); trace(c()); trace(n) -> 3, undefined
  Asm a;
  a.Function("make", {}, [](Asm& b) {
    b.Push({"n", 0}).Op(0x3C);
    b.Function("", {}, [](Asm& c) {
      c.Push({"n"}).Get("n").Op(0x50).Op(0x1D);
      c.Get("n").Op(0x3E);
    });
    b.Op(0x3E);
  });
  a.Push({"c", 0, "make"}).Op(0x3D).Op(0x1D);
  for (int i = 0; i < 2; ++i) a.Push({0, "c"}).Op(0x3D).Op(0x17);
  a.Push({0, "c"}).Op(0x3D).Trace();
  a.Get("n").Trace();
  auto lines = RunScriptLines(a);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "3");
  EXPECT_EQ(lines[1], "undefined");
}

TEST(Avm1Interpreter, DottedAssignmentGoesToTheScopeWhereThePathLeads) {
  // The timeline's a.b is a text, so "a.b.c" = 5 lands in _global's a.b.c.
  Asm a;
  a.Push({"a", "b", "text", 1}).Op(0x43).Op(0x1D);
  a.Get("_global").Push({"a", "b", "c", 1, 1}).Op(0x43).Push({1}).Op(0x43).Op(0x4F);
  a.Push({"a.b.c", 5}).Op(0x1D);
  a.Get("_global").Push({"a"}).Op(0x4E).Push({"b"}).Op(0x4E).Push({"c"}).Op(0x4E).Trace();
  a.Get("a.b").Trace();
  EXPECT_EQ(RunScriptLines(a, 8), (std::vector<std::string>{"5", "text"}));
}

TEST(Avm1Interpreter, AssignmentWithoutVarReachesTheTimeline) {
  // function f() { x = 5; } f(); trace(x) -> the timeline variable is set.
  Asm a;
  a.Function("f", {}, [](Asm& b) { b.Set("x", 5); });
  a.Push({0, "f"}).Op(0x3D).Op(0x17).Get("x").Trace();
  EXPECT_EQ(RunOne(a), "5");
}

TEST(Avm1Interpreter, Function2RegistersAndPreloads) {
  // function2 add(r1 = a, r2 = b) with `this` preloaded into r3: returns a + b + this.k
  Asm a;
  a.Set("k", 100);
  a.Function2("add", 4, 0x01 /*preload this*/, {{2, "a"}, {3, "b"}}, [](Asm& b) {
    b.Push({Reg{2}, Reg{3}}).Op(0x47).Push({Reg{1}, "k"}).Op(0x4E).Op(0x47).Op(0x3E);
  });
  a.Push({2, 1, 2, "this"}).Op(0x1C).Push({"add"}).Op(0x52).Trace();
  EXPECT_EQ(RunOne(a), "103");
}

TEST(Avm1Interpreter, Function2SuppressedPreloadsKeepTheirRegisters) {
  // this, arguments and super each preloaded and suppressed: `this` and `super` keep their
  // registers empty, the arguments still arrive.
  Asm a;
  a.Function2("f", 4, 0x3f, {}, [](Asm& b) {
    b.Push({Reg{1}}).Op(0x44).Trace().Push({Reg{2}}).Trace().Push({Reg{3}}).Op(0x44).Trace();
  });
  a.Push({2, 1, 2, "f"}).Op(0x3D).Op(0x17);
  // A timeline without a parent takes no register: _global moves up to r1.
  a.Function2("g", 3, 0x180 /*parent, global*/, {},
              [](Asm& b) { b.Push({Reg{1}}).Trace().Push({Reg{2}}).Op(0x44).Trace(); });
  a.Push({0, "g"}).Op(0x3D).Op(0x17);
  EXPECT_EQ(RunScriptLines(a, 7), (std::vector<std::string>{"undefined", "1,2", "undefined",
                                                            "[type Object]", "undefined"}));
}

TEST(Avm1Interpreter, TryCatchFinallyAndThrowAcrossCalls) {
  Asm a;
  a.Function("thrower", {}, [](Asm& b) { b.Push({"boom"}).Op(0x2A); });
  a.Try(
      "e",
      [](Asm& t) {
        t.Push({0, "thrower"}).Op(0x3D).Push({"not reached"}).Trace();
      },
      [](Asm& c) { c.Push({"caught "}).Get("e").Op(0x47).Trace(); },
      [](Asm& f) { f.Push({"finally"}).Trace(); });
  a.Push({"after"}).Trace();
  auto lines = RunScriptLines(a);
  EXPECT_EQ(lines, (std::vector<std::string>{"caught boom", "finally", "after"}));
}

TEST(Avm1Interpreter, ACaughtThrowDropsWhatTheTryBlockPushed) {
  // Pushed inside the try: gone in the catch block. Popped inside the try: stays popped.
  Asm a;
  a.Push({"below"});
  a.Try(
      "e",
      [](Asm& t) {
        t.Push({"inside", "boom"}).Op(0x2A);
      },
      [](Asm& c) { c.Op(0x4C).Trace(); }, [](Asm&) {}, true, false);
  a.Trace();
  a.Push({1, 2, 3});
  a.Try(
      "e", [](Asm& t) { t.Op(0x17).Push({"boom"}).Op(0x2A); }, [](Asm& c) { c.Op(0x4C).Trace(); },
      [](Asm&) {}, true, false);
  a.Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"below", "below", "2", "2"}));
}

TEST(Avm1Interpreter, WithLooksUpTheObjectFirst) {
  // o = {v: "inner"}; v = "outer"; with (o) { trace(v); v = "set"; } trace(o.v)
  Asm a;
  a.Push({"o", "v", "inner", 1}).Op(0x43).Op(0x1D);
  a.Set("v", "outer");
  a.Get("o").With([](Asm& b) { b.Get("v").Trace().Set("v", "set"); });
  a.Get("o").Push({"v"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"inner", "set"}));
}

TEST(Avm1Interpreter, CaseInsensitiveNamesBeforeSwf7) {
  Asm a;
  a.Set("Name", "x").Get("name").Trace();
  EXPECT_EQ(RunOne(a, 6), "x");
  Asm b;
  b.Set("Name", "x").Get("name").Trace();
  EXPECT_EQ(RunOne(b, 7), "undefined");
}

// Builds an array of the given numbers/strings in variable "a".
void MakeArray(Asm& a, std::initializer_list<test::Item> items) {
  a.Push({"a"});
  std::vector<test::Item> rev(items);
  for (auto it = rev.rbegin(); it != rev.rend(); ++it) a.Push({*it});
  a.Push({static_cast<int>(items.size())}).Op(0x42).Op(0x1D);
}

TEST(Avm1Builtins, ArraySortFlags) {
  struct Case {
    int flags;
    const char* expected;
  };
  // Default: as text; NUMERIC; DESCENDING; CASEINSENSITIVE; RETURNINDEXEDARRAY; UNIQUESORT.
  const Case cases[] = {{0, "10,2,B,a,c"},
                        {1, "10,2,a,B,c"},
                        {2, "c,a,B,2,10"},
                        {8, "0,1,3,2,4"},
                        {1 | 2, "c,B,a,2,10"}};
  for (auto& c : cases) {
    Asm a;
    MakeArray(a, {10, 2, "a", "B", "c"});
    a.Push({c.flags, 1}).Get("a").Push({"sort"}).Op(0x52).Op(0x17);
    if (c.flags & 8) {
      a.Push({c.flags, 1}).Get("a").Push({"sort"}).Op(0x52).Trace();
    } else {
      a.Get("a").Trace();
    }
    EXPECT_EQ(RunOne(a), c.expected) << c.flags;
  }
  // Numeric sort puts 2 before 10; UNIQUESORT with equal elements returns 0 and leaves the
  // array alone.
  Asm n;
  MakeArray(n, {10, 2, 33});
  n.Push({16, 1}).Get("a").Push({"sort"}).Op(0x52).Op(0x17).Get("a").Trace();
  EXPECT_EQ(RunOne(n), "2,10,33");
  Asm u;
  MakeArray(u, {3, 1, 3});
  u.Push({4, 1}).Get("a").Push({"sort"}).Op(0x52).Trace().Get("a").Trace();
  EXPECT_EQ(RunScriptLines(u), (std::vector<std::string>{"0", "3,1,3"}));
}

TEST(Avm1Builtins, SortOnFieldsAndAComparatorThatLies) {
  // [{n:3},{n:1},{n:2}].sortOn("n") -> 1,2,3
  Asm a;
  a.Push({"a"});
  for (int v : {2, 1, 3}) a.Push({"n", v, 1}).Op(0x43);
  a.Push({3}).Op(0x42).Op(0x1D);
  a.Push({"n", 1}).Get("a").Push({"sortOn"}).Op(0x52).Op(0x17);
  for (int i = 0; i < 3; ++i) a.Get("a").Push({i}).Op(0x4E).Push({"n"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"1", "2", "3"}));
  // A comparator that answers at random still ends with every element present.
  Asm b;
  MakeArray(b, {5, 4, 3, 2, 1, 0, 9, 8, 7, 6});
  b.Function("", {"x", "y"}, [](Asm& f) { f.Push({3}).Op(0x30).Push({1}).Op(0x0B).Op(0x3E); });
  b.Push({1}).Get("a").Push({"sort"}).Op(0x52).Op(0x17);
  b.Push({16, 1}).Get("a").Push({"sort"}).Op(0x52).Trace();
  EXPECT_EQ(RunOne(b), "0,1,2,3,4,5,6,7,8,9");
}

TEST(Avm1Limits, AnEndlessLoopEndsWithinTheBudget) {
  Asm a;
  a.Push({"before"}).Trace();
  a.Label("top").Jump("top");
  Limits limits;
  limits.budget = std::chrono::milliseconds(100);
  auto start = std::chrono::steady_clock::now();
  auto lines = RunScriptLines(a, 10, limits);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(lines, std::vector<std::string>{"before"});
  EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST(Avm1Limits, TheBudgetCountsTheScriptsOwnTimeWithinALimitOfPassingTime) {
  // A script that waits (as on a busy machine) for 1.5 budgets goes on; one that waits for
  // more than the limit of passing time (4 budgets) is stopped at its next check.
  for (const auto& [waitMs, finishes] : {std::pair{150, true}, std::pair{600, false}}) {
    Limits limits;
    limits.budget = std::chrono::milliseconds(100);
    Vm vm(10, limits);
    std::vector<std::string> lines;
    vm.traceSink = [&](std::string_view s) { lines.emplace_back(s); };
    vm.global->SetOwn("wait", Value(static_cast<Object*>(vm.NewNative(
                                  [](Vm&, CallArgs& a) {
                                    std::this_thread::sleep_for(std::chrono::milliseconds(
                                        static_cast<Function*>(a.callee)->nativeData));
                                    return Value();
                                  },
                                  waitMs))));
    Asm a;
    a.Push({0, "wait"}).Op(0x3D).Op(0x17);
    a.Set("i", 0);
    a.Label("top").Push({"i"}).Get("i").Push({1}).Op(0x47).Op(0x1D);
    a.Get("i").Push({3000}).Op(0x48).If("top");
    a.Push({"after"}).Trace();
    Object* timeline = vm.NewObject();
    vm.BeginFrameBudget();
    vm.RunScript(a.Build(), timeline);
    EXPECT_EQ(lines.size() == 1, finishes) << waitMs << " ms";
  }
}

TEST(Avm1Limits, DeepRecursionThrowsAndCanBeCaught) {
  // function f(n) { return f(n + 1); } try { f(0) } catch (e) { trace("caught") }
  Asm a;
  a.Function("f", {"n"}, [](Asm& b) { b.Get("n").Op(0x50).Push({1, "f"}).Op(0x3D).Op(0x3E); });
  a.Try(
      "e",
      [](Asm& t) {
        t.Push({0, 1, "f"}).Op(0x3D).Op(0x17);
      },
      [](Asm& c) { c.Push({"caught"}).Trace(); }, [](Asm&) {}, true, false);
  a.Push({"went on"}).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"caught", "went on"}));
}

TEST(Avm1Collector, FreesCyclesAndKeepsWhatIsReachable) {
  Vm vm(10);
  Object* timeline = vm.NewObject();
  vm.pinned.push_back(timeline);
  vm.Collect({});
  std::size_t base = vm.heap().size();
  // a.other = b; b.other = a; keep = {}; then drop a and b.
  Asm a;
  a.Push({"a", 0}).Op(0x43).Op(0x1D).Push({"b", 0}).Op(0x43).Op(0x1D);
  a.Get("a").Push({"other"}).Get("b").Op(0x4F);
  a.Get("b").Push({"other"}).Get("a").Op(0x4F);
  a.Push({"keep", 0}).Op(0x43).Op(0x1D);
  a.Set("a", 0).Set("b", 0);
  vm.RunScript(a.Build(), timeline);
  vm.Collect({});
  // Only `keep` stays beyond what was there before.
  EXPECT_EQ(vm.heap().size(), base + 1);
  EXPECT_TRUE(vm.Get(timeline, "keep").IsObject());
}

TEST(Avm1Builtins, StringMethodsCountUtf16Units) {
  const std::string smiley = "\xF0\x9F\x98\x8B";  // one character, two units
  const std::string replacement = "\xEF\xBF\xBD";
  const double nan = std::nan("");
  struct Case {
    std::string self;
    const char* method;
    std::vector<test::Item> args;
    int version;
    std::string expected;
  };
  const Case cases[] = {
      {smiley + "ab", "charCodeAt", {0}, 10, "55357"},
      {smiley + "ab", "charCodeAt", {1}, 10, "56843"},
      {smiley + "ab", "charAt", {2}, 10, "a"},
      {smiley + "ab", "charAt", {0}, 10, replacement},
      {smiley + "ab", "indexOf", {"a"}, 10, "2"},
      {smiley + "ab", "indexOf", {"a"}, 5, "4"},
      {smiley + "ab", "substr", {1, 2}, 10, replacement + "a"},
      {smiley + "ab", "slice", {-2}, 10, "ab"},
      {smiley + "ab", "lastIndexOf", {"b"}, 10, "3"},
      {"hello", "charAt", {4294967297.0}, 10, "e"},
      {"hello", "charCodeAt", {nan}, 10, "104"},
      {"hello", "indexOf", {"l", -1}, 10, "2"},
      {"hello", "indexOf", {}, 10, "undefined"},
      {"hello", "substr", {}, 10, "undefined"},
      {"hello", "slice", {4294967296.0, 4294967298.0}, 10, "he"},
      {"hello", "substring", {3, test::Null{}}, 10, "hel"},
      {"hello world", "substr", {3, -4}, 10, "lo worl"},
      {"hello world", "substr", {4, -4}, 10, ""},
      {"hello world", "substr", {0, -1}, 10, "hello worl"},
      {"abcd", "substr", {-3, -2}, 10, "bc"},
      {smiley + "ab", "split", {""}, 10, replacement + "," + replacement + ",a,b"},
  };
  for (const Case& c : cases) {
    Asm a;
    for (auto it = c.args.rbegin(); it != c.args.rend(); ++it) a.Push({*it});
    a.Push({static_cast<int>(c.args.size()), c.self, c.method}).Op(0x52).Trace();
    EXPECT_EQ(RunOne(a, c.version), c.expected) << c.method << " version " << c.version;
  }
  Asm length;
  length.Push({smiley + "ab", "length"}).Op(0x4E).Trace();
  length.Push({smiley + "ab", 1, "String"}).Op(0x40).Push({"length"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(length), (std::vector<std::string>{"4", "4"}));
  Asm lone;
  lone.Push({0xD801, 1, "String"}).Op(0x1C).Push({"fromCharCode"}).Op(0x52).Trace();
  EXPECT_EQ(RunOne(lone), replacement);
  // Halves of a pair, cut apart, join into the character again by every way of joining text:
  // + (Add2), add (StringAdd), concat and join; the result is the same text as the original.
  Asm halves;
  auto half = [&](int i) { halves.Push({i, 1, smiley, "charAt"}).Op(0x52); };
  half(0);
  half(1);
  halves.Op(0x47).StoreRegister(0).Trace();
  halves.Push({test::Reg{0}, smiley}).Op(0x66).Trace();  // StrictEquals
  half(0);
  half(1);
  halves.Op(0x21).Push({"length"}).Op(0x4E).Trace();
  half(1);
  halves.Push({1});
  half(0);
  halves.Push({"concat"}).Op(0x52).Push({smiley}).Op(0x66).Trace();
  halves.Push({"", 1});
  half(1);
  half(0);
  halves.Push({2}).Op(0x42).Push({"join"}).Op(0x52).Push({smiley}).Op(0x66).Trace();
  EXPECT_EQ(RunScriptLines(halves),
            (std::vector<std::string>{smiley, "true", "2", "true", "true"}));
}

TEST(Avm1Builtins, ThisOfCallsWithoutAnObject) {
  Asm a;
  // function f() { return this; }
  a.Function("f", {}, [](Asm& f) { f.Get("this").Op(0x3E); });
  a.Push({Undef{}, 1, "f"}).Op(0x1C).Push({"call"}).Op(0x52).Get("_global").Op(0x66).Trace();
  a.Push({test::Null{}, 1, "f"}).Op(0x1C).Push({"apply"}).Op(0x52).Get("_global").Op(0x66).Trace();
  a.Push({0, "f"}).Op(0x1C).Push({Undef{}}).Op(0x52).Op(0x44).Trace();  // f called as f[""]()
  // _global has no valueOf: it adds as undefined, and prints through nothing either.
  a.Push({"x"}).Get("_global").Op(0x47).Trace();
  EXPECT_EQ(RunScriptLines(a, 7),
            (std::vector<std::string>{"true", "true", "undefined", "xundefined"}));
}

TEST(Avm1Builtins, MathMinMaxTakeTwoArguments) {
  struct Case {
    const char* fn;
    std::vector<test::Item> args;
    int version;
    const char* expected;
  };
  const Case cases[] = {
      {"max", {}, 7, "-Infinity"}, {"min", {}, 7, "Infinity"}, {"min", {-1}, 7, "NaN"},
      {"min", {-1}, 6, "-1"},      {"max", {3, 2, 9}, 7, "3"}, {"min", {3, 2}, 7, "2"},
  };
  for (const Case& c : cases) {
    Asm a;
    for (auto it = c.args.rbegin(); it != c.args.rend(); ++it) a.Push({*it});
    a.Push({static_cast<int>(c.args.size()), "Math"}).Op(0x1C).Push({c.fn}).Op(0x52).Trace();
    EXPECT_EQ(RunOne(a, c.version), c.expected) << c.fn << " v" << c.version;
  }
  Asm b;
  b.Push({0, "Boolean"}).Op(0x3D).Op(0x44).Trace();
  EXPECT_EQ(RunOne(b), "undefined");
}

TEST(Avm1Builtins, GlobalAndBareObjectsInheritNothing) {
  Asm a;
  a.Push({0, "Object"}).Op(0x3D).Trace();                        // Object() has no toString
  a.Push({1, 1, "Object"}).Op(0x3D).Push({1}).Op(0x47).Trace();  // Object(1) wraps
  a.Get("_global").Trace();
  a.Get("_global").Push({"g", 5}).Op(0x4F).Get("g").Trace();
  EXPECT_EQ(RunScriptLines(a),
            (std::vector<std::string>{"[type Object]", "2", "[type Object]", "5"}));
}

TEST(Avm1Builtins, XmlParsesWalksAndPrints) {
  // x = new XML(text); then each probe reads a path below x and traces it.
  const char* text =
      "<?xml version=\"1.0\"?><!DOCTYPE d><r a=\"1 &amp; 2\" b='x'><!-- gone --><e/>t &lt; "
      "&#65;&unknown;<![CDATA[<raw>]]><n:q>I'm</n:q></r>";
  struct Probe {
    std::function<void(Asm&)> code;  // leaves a value on the stack, x in register 1
    const char* expected;
  };
  auto member = [](std::vector<const char*> path) {
    return [path](Asm& a) {
      a.Push({Reg{1}});
      for (const char* p : path) a.Push({p}).Op(0x4E);
    };
  };
  const Probe probes[] = {
      {member({"status"}), "0"},
      {member({"nodeName"}), "null"},
      {member({"xmlDecl"}), "<?xml version=\"1.0\"?>"},
      {member({"docTypeDecl"}), "<!DOCTYPE d>"},
      {member({"firstChild", "nodeName"}), "r"},
      {member({"firstChild", "attributes", "a"}), "1 & 2"},
      {member({"firstChild", "childNodes", "length"}), "4"},
      {member({"firstChild", "firstChild", "nextSibling", "nodeValue"}), "t < A&unknown;"},
      {member({"firstChild", "firstChild", "nextSibling", "nodeType"}), "3"},
      {member({"firstChild", "lastChild", "previousSibling", "nodeValue"}), "<raw>"},
      {member({"firstChild", "lastChild", "prefix"}), "n"},
      {member({"firstChild", "lastChild", "localName"}), "q"},
      {member({"firstChild", "lastChild", "nextSibling"}), "null"},
      {member({"firstChild", "parentNode", "nodeType"}), "1"},
      {member({"firstChild", "firstChild"}), "<e />"},
      {[](Asm& a) {
         a.Push({0, Reg{1}, "hasChildNodes"}).Op(0x52);
       },
       "true"},
      {[](Asm& a) {
         a.Push({Reg{1}, "nodeName", "doc"}).Op(0x4F);
         a.Push({Reg{1}, "nodeName", Undef{}}).Op(0x4F).Push({Reg{1}});  // ignored
       },
       "<?xml version=\"1.0\"?><!DOCTYPE d><doc><r a=\"1 &amp; 2\" b=\"x\"><e />t &lt; "
       "A&amp;unknown;&lt;raw&gt;<n:q>I&apos;m</n:q></r></doc>"},
  };
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    Asm a;
    a.Push({text, 1, "XML"}).Op(0x40).StoreRegister(1).Op(0x17);
    probes[i].code(a);
    a.Trace();
    EXPECT_EQ(RunOne(a, 8), probes[i].expected) << "probe " << i;
  }
  // childNodes is one array, refilled when the children change; nodes move between parents.
  Asm live;
  live.Push({"<l><a/><b/></l>", 1, "XML"}).Op(0x40).StoreRegister(1).Op(0x17);
  live.Push({Reg{1}, "firstChild"}).Op(0x4E).Push({"childNodes"}).Op(0x4E).StoreRegister(2);
  live.Op(0x17);
  live.Push({"c", 1, Reg{1}, "createElement"}).Op(0x52);
  live.Push({1, Reg{1}, "firstChild"}).Op(0x4E).Push({"appendChild"}).Op(0x52).Op(0x17);
  live.Push({Reg{2}}).Trace();
  live.Push({0, Reg{1}, "firstChild"}).Op(0x4E).Push({"firstChild"}).Op(0x4E);
  live.Push({"removeNode"}).Op(0x52).Op(0x17);
  live.Push({Reg{2}}).Trace();
  live.Push({"<x", 1, "XML"}).Op(0x40).Push({"status"}).Op(0x4E).Trace();
  live.Push({"<x></y>", 1, "XML"}).Op(0x40).Push({"status"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(live, 8),
            (std::vector<std::string>{"<a />,<b />,<c />", "<b />,<c />", "-6", "-9"}));
}

TEST(Avm1Builtins, XmlIdMapListsTheElementsReadByTheirId) {
  // The map is the document's own object: the elements each parse reads are added to it, one
  // appended by a script is not.
  Asm a;
  a.Push({"<a id='one'><b id='two'/><c/></a>", 1, "XML"}).Op(0x40).StoreRegister(1).Op(0x17);
  a.Push({Reg{1}, "idMap"}).Op(0x4E).StoreRegister(2).Op(0x17);
  a.Push({Reg{2}, "two"}).Op(0x4E).Trace();
  a.Push({Reg{2}, "one"})
      .Op(0x4E)
      .Push({"firstChild"})
      .Op(0x4E)
      .Push({"nodeName"})
      .Op(0x4E)
      .Trace();
  a.Push({"d", 1, Reg{1}, "createElement"}).Op(0x52).StoreRegister(3);
  a.Push({"attributes"}).Op(0x4E).Push({"id", "three"}).Op(0x4F);
  a.Push({Reg{3}, 1, Reg{1}, "appendChild"}).Op(0x52).Op(0x17);
  a.Push({"<e id='four'/>", 1, Reg{1}, "parseXML"}).Op(0x52).Op(0x17);
  for (const char* id : {"one", "three", "four"}) a.Push({Reg{2}, id}).Op(0x4E).Op(0x44).Trace();
  EXPECT_EQ(RunScriptLines(a, 8),
            (std::vector<std::string>{"<b id=\"two\" />", "b", "object", "undefined", "object"}));
  // Before version 8 a document has none.
  Asm old;
  old.Push({"<a id='one'/>", 1, "XML"}).Op(0x40).Push({"idMap"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(old, 7), (std::vector<std::string>{"undefined"}));
}

TEST(Avm1Builtins, GeomPoint) {
  // Register 1: the Point class; register 2: new Point(3, 4).
  auto setup = [](Asm& a) {
    a.Get("flash").Push({"geom"}).Op(0x4E).Push({"Point"}).Op(0x4E).StoreRegister(1).Op(0x17);
    a.Push({4, 3, 2}).Get("flash").Push({"geom"}).Op(0x4E).Push({"Point"}).Op(0x53);
    a.StoreRegister(2).Op(0x17);
  };
  auto point = [](Asm& a, std::initializer_list<test::Item> xy) {  // pushes new Point(x, y)
    std::vector<test::Item> v(xy);
    for (auto it = v.rbegin(); it != v.rend(); ++it) a.Push({*it});
    a.Push({static_cast<int>(v.size()), Reg{1}, Undef{}}).Op(0x53);
  };
  struct Probe {
    std::function<void(Asm&)> code;
    const char* expected;
  };
  const Probe probes[] = {
      {[](Asm& a) { a.Push({Reg{2}}); }, "(x=3, y=4)"},
      {[](Asm& a) {
         a.Push({Reg{2}, "length"}).Op(0x4E);
       },
       "5"},
      {[&](Asm& a) { point(a, {}); }, "(x=0, y=0)"},
      {[&](Asm& a) { point(a, {1}); }, "(x=1, y=undefined)"},
      {[](Asm& a) {
         a.Push({"y", "a", "x", 1, 2}).Op(0x43).Push({1, Reg{2}, "add"}).Op(0x52);
       },
       "(x=4, y=4a)"},
      {[](Asm& a) {
         a.Push({Undef{}, 1, Reg{2}, "subtract"}).Op(0x52);
       },
       "(x=NaN, y=NaN)"},
      {[&](Asm& a) {
         point(a, {100, 200});
         point(a, {-100, 200});
         a.Push({2, Reg{1}, "distance"}).Op(0x52);
       },
       "200"},
      {[&](Asm& a) {
         point(a, {3, 4});
         a.Push({1, Reg{2}, "equals"}).Op(0x52);
       },
       "true"},
      {[](Asm& a) {
         a.Push({"y", 4, "x", 3, 2}).Op(0x43).Push({1, Reg{2}, "equals"}).Op(0x52);
       },
       "false"},
      {[](Asm& a) {
         a.Push({10, 1, Reg{2}, "normalize"}).Op(0x52).Op(0x17).Push({Reg{2}});
       },
       "(x=6, y=8)"},
      {[&](Asm& a) {
         a.Push({0.5});
         point(a, {100, 200});
         point(a, {-100, -200});
         a.Push({3, Reg{1}, "interpolate"}).Op(0x52);
       },
       "(x=0, y=0)"},
      {[](Asm& a) {
         a.Push({500, 1, Reg{2}, "offset"}).Op(0x52).Op(0x17).Push({Reg{2}});
       },
       "(x=503, y=NaN)"},
  };
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    Asm a;
    setup(a);
    probes[i].code(a);
    a.Trace();
    EXPECT_EQ(RunOne(a, 8), probes[i].expected) << "probe " << i;
  }
}

TEST(Avm1Builtins, GeomMatrix) {
  // Register 1: the Matrix class; register 2: new Matrix(2, 3, 5, 7, 11, 13).
  auto setup = [](Asm& a) {
    a.Get("flash").Push({"geom"}).Op(0x4E).Push({"Matrix"}).Op(0x4E).StoreRegister(1).Op(0x17);
    a.Push({13, 11, 7, 5, 3, 2, 6, Reg{1}, Undef{}}).Op(0x53).StoreRegister(2).Op(0x17);
  };
  auto call = [](const char* method, std::initializer_list<test::Item> args) {
    std::vector<test::Item> v(args);
    return [method, v](Asm& a) {
      for (auto it = v.rbegin(); it != v.rend(); ++it) a.Push({*it});
      a.Push({static_cast<int>(v.size()), Reg{2}, method}).Op(0x52).Op(0x17).Push({Reg{2}});
    };
  };
  struct Probe {
    std::function<void(Asm&)> code;
    const char* expected;
  };
  const Probe probes[] = {
      {[](Asm& a) {
         a.Push({0, Reg{1}, Undef{}}).Op(0x53);
       },
       "(a=1, b=0, c=0, d=1, tx=0, ty=0)"},
      {[](Asm& a) {
         a.Push({1, 1, Reg{1}, Undef{}}).Op(0x53);
       },
       "(a=1, b=undefined, c=undefined, d=undefined, tx=undefined, ty=undefined)"},
      {call("invert", {}), "(a=-7, b=3, c=5, d=-2, tx=12, ty=-7)"},
      {call("translate", {1, -1}), "(a=2, b=3, c=5, d=7, tx=12, ty=12)"},
      {call("scale", {2, 3}), "(a=4, b=9, c=10, d=21, tx=22, ty=39)"},
      {call("rotate", {0}), "(a=2, b=3, c=5, d=7, tx=11, ty=13)"},
      {call("identity", {}), "(a=1, b=0, c=0, d=1, tx=0, ty=0)"},
      {call("createBox", {2, 3, 0, 4}), "(a=2, b=0, c=0, d=3, tx=4, ty=0)"},
      {call("createGradientBox", {200, 300}),
       "(a=0.1220703125, b=0, c=0, d=0.18310546875, tx=100, ty=150)"},
      {[](Asm& a) {
         a.Push({"y", 1, "x", 1, 2}).Op(0x43).Push({1, Reg{2}, "transformPoint"}).Op(0x52);
       },
       "(x=18, y=23)"},
      {[](Asm& a) {
         a.Push({"y", 1, "x", 1, 2}).Op(0x43).Push({1, Reg{2}, "deltaTransformPoint"}).Op(0x52);
       },
       "(x=7, y=10)"},
      {[](Asm& a) {  // concat with itself: the matrix applied twice
         a.Push({Reg{2}, 1, Reg{2}, "concat"}).Op(0x52).Op(0x17).Push({Reg{2}});
       },
       "(a=19, b=27, c=45, d=64, tx=98, ty=137)"},
      {[](Asm& a) {  // Matrix.call(o, 2, 3) fills an object that is not a matrix
         a.Push({0}).Op(0x43).StoreRegister(3).Op(0x17);
         a.Push({3, 2, Reg{3}, 3, Reg{1}, "call"}).Op(0x52).Op(0x17);
         a.Push({Reg{3}, "b"}).Op(0x4E);
       },
       "3"},
  };
  for (std::size_t i = 0; i < std::size(probes); ++i) {
    Asm a;
    setup(a);
    probes[i].code(a);
    a.Trace();
    EXPECT_EQ(RunOne(a, 8), probes[i].expected) << "probe " << i;
  }
}

TEST(Avm1Builtins, AFunctionsPrototypeCannotBeDeleted) {
  Asm a;
  a.Function("f", {}, [](Asm&) {});
  a.Get("f").Push({"prototype"}).Op(0x3A).Trace();
  a.Get("f").Push({"prototype"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"false", "[object Object]"}));
}

TEST(Avm1Builtins, AddPropertyWantsAGetterAndASetter) {
  Asm a;
  a.Push({"o", 0}).Op(0x43).Op(0x1D);
  a.Function("", {}, [](Asm& f) { f.Push({7}).Op(0x3E); });
  a.Push({"p", 2}).Get("o").Push({"addProperty"}).Op(0x52).Trace();  // no setter given
  a.Push({test::Null{}});
  a.Function("", {}, [](Asm& f) { f.Push({7}).Op(0x3E); });
  a.Push({"p", 3}).Get("o").Push({"addProperty"}).Op(0x52).Trace();  // null: read-only
  a.Get("o").Push({"p"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"false", "true", "7"}));
}

TEST(Avm1Builtins, ObjectFeatures) {
  // addProperty getter, __resolve, watch, hasOwnProperty, ASSetPropFlags hiding from for..in.
  Asm a;
  a.Push({"o", 0}).Op(0x43).Op(0x1D);
  // o.addProperty("p", function () { return 7; }, null)
  a.Push({test::Null{}});
  a.Function("", {}, [](Asm& f) { f.Push({7}).Op(0x3E); });
  a.Push({"p", 3}).Get("o").Push({"addProperty"}).Op(0x52).Op(0x17);
  a.Get("o").Push({"p"}).Op(0x4E).Trace();
  // o.__resolve = function (n) { return "r:" + n; }
  a.Get("o").Push({"__resolve"});
  a.Function("", {"n"}, [](Asm& f) { f.Push({"r:"}).Get("n").Op(0x47).Op(0x3E); });
  a.Op(0x4F);
  a.Get("o").Push({"missing"}).Op(0x4E).Trace();
  // o.watch("w", function (name, old, nv) { return nv * 2; }); o.w = 4; trace(o.w)
  a.Function("", {"name", "old", "nv"}, [](Asm& f) { f.Get("nv").Push({2}).Op(0x0C).Op(0x3E); });
  a.Push({"w", 2}).Get("o").Push({"watch"}).Op(0x52).Op(0x17);
  a.Get("o").Push({"w", 4}).Op(0x4F);
  a.Get("o").Push({"w"}).Op(0x4E).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"7", "r:missing", "8"}));
}

TEST(Avm1Builtins, ClassesWithExtendsAndSuper) {
  // function A() { this.a = 1 } A.prototype.who = function () { return "A" }
  // function B() { super(); } B extends A; B.prototype.who = function () { return "B" + super.who()
  // }
  Asm a;
  a.Function("A", {}, [](Asm& f) { f.Get("this").Push({"a", 1}).Op(0x4F); });
  a.Get("A").Push({"prototype"}).Op(0x4E).Push({"who"});
  a.Function("", {}, [](Asm& f) { f.Push({"A"}).Op(0x3E); });
  a.Op(0x4F);
  a.Function("B", {}, [](Asm& f) { f.Push({0}).Get("super").Push({Undef{}}).Op(0x52).Op(0x17); });
  a.Get("B").Get("A").Op(0x69);
  a.Get("B").Push({"prototype"}).Op(0x4E).Push({"who"});
  a.Function("", {}, [](Asm& f) {
    f.Push({"B", 0}).Get("super").Push({"who"}).Op(0x52).Op(0x47).Op(0x3E);
  });
  a.Op(0x4F);
  a.Push({"b", 0, "B"}).Op(0x40).Op(0x1D);
  a.Push({0}).Get("b").Push({"who"}).Op(0x52).Trace();
  a.Get("b").Push({"a"}).Op(0x4E).Trace();
  a.Get("b").Get("A").Op(0x54).Trace();
  EXPECT_EQ(RunScriptLines(a), (std::vector<std::string>{"BA", "1", "true"}));
}

// Classes extending a built-in class: super() finds the constructor of the class the instance
// extends when it runs, and a filter's constructor called so makes the instance a filter.
TEST(Avm1Builtins, SuperRunsTheConstructorOfTheClassExtendedNow) {
  Asm a;
  auto filterClass = [](Asm& b, const char* name) {
    b.Get("flash").Push({"filters"}).Op(0x4E).Push({name}).Op(0x4E);
  };
  // function G() { trace(super(0xFF0000, 1, 8, 4)); } G extends flash.filters.GlowFilter;
  a.Function("G", {}, [](Asm& f) {
    f.Push({4, 8, 1, 0xFF0000, 4}).Get("super").Push({Undef{}}).Op(0x52).Trace();
  });
  a.Get("G");
  filterClass(a, "GlowFilter");
  a.Op(0x69);
  // g = new G(); trace(g.color); trace(g.blurY); trace(g instanceof flash.filters.GlowFilter);
  a.Push({"g", 0, "G"}).Op(0x40).Op(0x1D);
  a.Get("g").Push({"color"}).Op(0x4E).Trace();
  a.Get("g").Push({"blurY"}).Op(0x4E).Trace();
  a.Get("g");
  filterClass(a, "GlowFilter");
  a.Op(0x54).Trace();
  // g.blurX = 1000; trace(g.blurX); trace(g.clone().blurY);
  a.Get("g").Push({"blurX", 1000}).Op(0x4F);
  a.Get("g").Push({"blurX"}).Op(0x4E).Trace();
  a.Push({0}).Get("g").Push({"clone"}).Op(0x52).Push({"blurY"}).Op(0x4E).Trace();
  // function T() {}
  // T.prototype.make = function () {
  //   this.__proto__ = { __proto__: BlurFilter.prototype, __constructor__: BlurFilter };
  //   return super(2, 3);
  // }
  // t = new T(); trace(t.make()); trace(t.blurX + "," + t.blurY);
  a.Function("T", {}, [](Asm&) {});
  a.Get("T").Push({"prototype"}).Op(0x4E).Push({"make"});
  a.Function("", {}, [&](Asm& f) {
    f.Get("this").Push({"__proto__", "__proto__"});
    filterClass(f, "BlurFilter");
    f.Push({"prototype"}).Op(0x4E).Push({"__constructor__"});
    filterClass(f, "BlurFilter");
    f.Push({2}).Op(0x43).Op(0x4F);
    f.Push({3, 2, 2}).Get("super").Push({Undef{}}).Op(0x52).Op(0x3E);
  });
  a.Op(0x4F);
  a.Push({"t", 0, "T"}).Op(0x40).Op(0x1D);
  a.Push({0}).Get("t").Push({"make"}).Op(0x52).Trace();
  a.Get("t").Push({"blurX"}).Op(0x4E).Push({","}).Op(0x47);
  a.Get("t").Push({"blurY"}).Op(0x4E).Op(0x47).Trace();
  // Three classes deep: function A() { trace("A") } function B() { super(); trace("B") }
  // function C() { super(); trace("C") } B extends A; C extends B; new C();
  a.Function("A", {}, [](Asm& f) { f.Push({"A"}).Trace(); });
  for (const char* name : {"B", "C"})
    a.Function(name, {}, [&](Asm& f) {
      f.Push({0}).Get("super").Push({Undef{}}).Op(0x52).Op(0x17).Push({name}).Trace();
    });
  a.Get("B").Get("A").Op(0x69).Get("C").Get("B").Op(0x69);
  a.Push({0, "C"}).Op(0x40).Op(0x17);
  EXPECT_EQ(RunScriptLines(a),
            (std::vector<std::string>{"[object Object]", "16711680", "4", "true", "255", "4",
                                      "[object Object]", "2,3", "A", "B", "C"}));
}

// function X() { trace(super(args)); } X extends C; x = new X(); trace(x.probe) (or x itself),
// for the built-in classes whose constructors make the instance one of their own.
TEST(Avm1Builtins, ClassesExtendingBuiltInClassesGetTheirState) {
  struct Case {
    std::vector<const char*> cls;  // the path of the class
    std::vector<test::Item> args;
    const char* probe;  // a property read, a method called (ending in "()"), or "" for x itself
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{"Boolean"}, {true}, "", {"true", "true"}},
      {{"Number"}, {123.5}, "", {"123.5", "123.5"}},
      {{"String"}, {"hello"}, "length", {"hello", "5"}},
      // (The date as text depends on the machine's time zone.)
      {{"Date"}, {123456}, "getTime()", {"*", "123456"}},
      {{"Array"}, {"foo", "bar"}, "shift()", {"foo,bar", "foo"}},
      {{"Array"}, {3}, "length", {"undefined,undefined,undefined", "3"}},
      {{"flash", "geom", "ColorTransform"},
       {2},
       "redMultiplier",
       {"(redMultiplier=2, greenMultiplier=1, blueMultiplier=1, alphaMultiplier=1, redOffset=0, "
        "greenOffset=0, blueOffset=0, alphaOffset=0)",
        "2"}},
      {{"NetConnection"}, {}, "isConnected", {"undefined", "false"}},
      {{"SharedObject"}, {}, "", {"undefined", "[object Object]"}},
  };
  for (const Case& c : cases) {
    auto cls = [&](Asm& b) {
      b.Get(c.cls[0]);
      for (std::size_t i = 1; i < c.cls.size(); ++i) b.Push({c.cls[i]}).Op(0x4E);
    };
    Asm a;
    a.Function("X", {}, [&](Asm& f) {
      for (auto it = c.args.rbegin(); it != c.args.rend(); ++it) f.Push({*it});
      f.Push({static_cast<int>(c.args.size())}).Get("super").Push({Undef{}}).Op(0x52).Trace();
    });
    a.Get("X");
    cls(a);
    a.Op(0x69);
    a.Push({"x", 0, "X"}).Op(0x40).Op(0x1D);
    const std::string probe = c.probe;
    if (probe.empty())
      a.Get("x");
    else if (probe.ends_with("()"))
      a.Push({0}).Get("x").Push({probe.substr(0, probe.size() - 2)}).Op(0x52);
    else
      a.Get("x").Push({probe}).Op(0x4E);
    a.Trace();
    const std::vector<std::string> lines = RunScriptLines(a);
    ASSERT_EQ(lines.size(), c.lines.size()) << c.cls.back();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (c.lines[i] != "*") {
        EXPECT_EQ(lines[i], c.lines[i]) << c.cls.back();
      }
    }
  }
}

TEST(Avm1Builtins, InstanceOfReadsTheOwnPrototypeAndBoxesThroughTheGlobalConstructors) {
  Asm a;
  // _global.String = function (v) { trace("boxed " + v) }
  a.Get("_global").Push({"String"});
  a.Function("", {"v"}, [](Asm& f) { f.Push({"boxed "}).Get("v").Op(0x47).Trace(); });
  a.Op(0x4F);
  // {} instanceof "right": the class is boxed (and has no prototype).
  a.Push({0}).Op(0x43).Push({"right"}).Op(0x54).Trace();
  // "left" instanceof Object: no instance, and nothing is boxed.
  a.Push({"left"}).Get("Object").Op(0x54).Trace();
  // The cast of "left" to Object boxes it, then gives null.
  a.Get("Object").Push({"left"}).Op(0x2B).Op(0x44).Trace();
  // {} against { prototype: Object.prototype }: an instance, and the cast gives it back.
  auto plainClass = [](Asm& b) {
    b.Push({"prototype"}).Get("Object").Push({"prototype"}).Op(0x4E).Push({1}).Op(0x43);
  };
  a.Push({0}).Op(0x43);
  plainClass(a);
  a.Op(0x54).Trace();
  plainClass(a);
  a.Push({0}).Op(0x43).Op(0x2B).Op(0x44).Trace();
  // A prototype behind a getter is not read: the getter does not run.
  a.Push({"c", 0}).Op(0x43).Op(0x1D);
  a.Push({test::Null{}});
  a.Function("", {}, [](Asm& f) {
    f.Push({"getter"}).Trace().Get("Object").Push({"prototype"}).Op(0x4E).Op(0x3E);
  });
  a.Push({"prototype", 3}).Get("c").Push({"addProperty"}).Op(0x52).Op(0x17);
  a.Push({0}).Op(0x43).Get("c").Op(0x54).Trace();
  // Nor is one the class inherits: { __proto__: { prototype: Object.prototype } }.
  a.Push({0}).Op(0x43).Push({"__proto__"});
  plainClass(a);
  a.Push({1}).Op(0x43).Op(0x54).Trace();
  EXPECT_EQ(RunScriptLines(a),
            (std::vector<std::string>{"boxed right", "false", "false", "boxed left", "null", "true",
                                      "object", "false", "false"}));
}

TEST(Avm1Runtime, UnnamedClipsAreNumberedAndShapesAreNot) {
  swftest::SwfWriter w(100, 100);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 20, 20));
  swftest::SwfWriter inner(1, 1);
  inner.ShowFrame();
  w.Sprite(2, inner, 1);
  w.Place(1, 1);
  w.Place(2, 2);
  Asm a;
  a.Get("instance1").Trace();
  w.DoAction(a.Build()->bytes);
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish();
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  stage.Step(0);
  EXPECT_EQ(lines, (std::vector<std::string>{"_level0.instance1"}));
}

TEST(Avm1Runtime, PagesAndSocketsAMovieWouldOpenAreTracedOnlyWhenAsked) {
  const std::pair<const char*, const char*> targets[] = {
      {"_blank", "_blank"}, {"blank", "_blank"},    {"_BlAnK", "_blank"},   {"BLANK", "_blank"},
      {"_self", "_self"},   {"blanket", "blanket"}, {"__blank", "__blank"}, {"", ""}};
  Asm a;
  std::vector<std::string> want;
  for (const auto& [target, window] : targets) {
    a.Push({"http://example.com/x", target}).Long(0x9A, {0});
    want.insert(want.end(), {"Navigator::navigate_to_url:", "  URL: http://example.com/x",
                             "  Target: " + std::string(window)});
  }
  // The GetURL action with its two texts in the code.
  std::vector<std::uint8_t> payload;
  for (const std::string text : {"page.html", "blank"}) {
    payload.insert(payload.end(), text.begin(), text.end());
    payload.push_back(0);
  }
  a.Long(0x83, payload);
  for (const char* line : {"Navigator::navigate_to_url:", "  URL: page.html", "  Target: _blank"})
    want.push_back(line);
  // A clip's getURL method: the window named as the action names it.
  a.Push({"bLaNk", "http://example.com/m", 2}).Get("_root").Push({"getURL"}).Op(0x52).Op(0x17);
  for (const char* line :
       {"Navigator::navigate_to_url:", "  URL: http://example.com/m", "  Target: _blank"})
    want.push_back(line);
  // Sockets open nowhere either: the host by name (a file's own host without one) and the port.
  a.Push({1234, "example.com", 2, 0, "XMLSocket"}).Op(0x40).Push({"connect"}).Op(0x52).Op(0x17);
  a.Push({test::Null{}, 1, 0, "XMLSocket"}).Op(0x40).Push({"connect"}).Op(0x52).Op(0x17);
  for (const char* line : {"Navigator::connect_socket", "    Host: example.com; Port: 1234",
                           "Navigator::connect_socket", "    Host: localhost; Port: 0"})
    want.push_back(line);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes);
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  for (const bool log : {false, true}) {
    Stage stage(*movie);
    std::vector<std::string> lines;
    ScriptHost host{*movie, stage,   [&](std::string_view s) { lines.emplace_back(s); },
                    "",     nullptr, log};
    Runtime runtime(host);
    stage.SetScripts(&runtime);
    stage.Step(0);
    EXPECT_EQ(lines, log ? want : std::vector<std::string>{}) << log;
  }
}

TEST(Avm1Runtime, StageHasTheMovieSizeAndListeners) {
  Asm a;
  a.Get("Stage").Push({"width"}).Op(0x4E).Trace();
  a.Get("Stage").Push({"height"}).Op(0x4E).Trace();
  a.Get("Stage").Push({"width", 5}).Op(0x4F);  // read-only
  a.Get("Stage").Push({"width"}).Op(0x4E).Trace();
  a.Get("Stage").Push({"addListener"}).Op(0x4E).Get("Key").Push({"addListener"}).Op(0x4E);
  a.Op(0x66).Trace();
  // A frame number far below the first (the lowest int) stays on the timeline.
  a.Push({-2147483648.0, 1, "_root"}).Op(0x1C).Push({"gotoAndStop"}).Op(0x52).Op(0x17);
  a.Get("_root").Push({"_currentframe"}).Op(0x4E).Trace();
  // GetProperty: index 0 is _x; NaN names no property.
  a.Push({"_root", 0}).Op(0x22).Trace();
  a.Push({"_root", std::nan("")}).Op(0x22).Trace();
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes);
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  stage.Step(0);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"1920", "1080", "1920", "true", "1", "0", "undefined"}));
}

}  // namespace
}  // namespace dbx::swf::avm1

namespace dbx::swf::avm1 {
namespace {

// A movie whose frame script makes a clip that moves itself from onEnterFrame, then removes
// itself after its third step.
TEST(Avm1Runtime, ClipsMadeByScriptRunTheirEventsUntilRemoved) {
  Asm a;
  a.Push({1, "c", 2, "_root"}).Op(0x1C).Push({"createEmptyMovieClip"}).Op(0x52);
  a.StoreRegister(1).Trace();
  a.Push({Reg{1}, "onEnterFrame"});
  a.Function("", {}, [](Asm& f) {
    f.Get("this").Push({"_x"}).Get("this").Push({"_x"}).Op(0x4E).Push({2}).Op(0x47).Op(0x4F);
    f.Get("this").Push({"_x"}).Op(0x4E).Trace();
    f.Get("this").Push({"_x"}).Op(0x4E).Push({6}).Op(0x49).Op(0x12).If("keep");
    f.Push({0}).Get("this").Push({"removeMovieClip"}).Op(0x52).Op(0x17);
    f.Label("keep");
  });
  a.Op(0x4F).Op(0x07);
  const std::vector<std::uint8_t> bytes = test::MovieWithScript(a.Build()->bytes);
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  std::vector<std::string> lines;
  ScriptHost host{*movie, stage, [&](std::string_view s) { lines.emplace_back(s); }, ""};
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (int i = 0; i < 6; ++i) stage.Step(i * 33.0);
  EXPECT_EQ(lines, (std::vector<std::string>{"_level0.c", "2", "4", "6"}));
  EXPECT_TRUE(stage.root().children().empty());
  // The removed clip's script object and its function are collected.
  std::size_t after = runtime.vm().heap().size();
  stage.Step(7 * 33.0);
  EXPECT_LE(runtime.vm().heap().size(), after);
}

}  // namespace
}  // namespace dbx::swf::avm1
