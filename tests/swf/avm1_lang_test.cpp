// The language rules of the script runtime that movies of each version depend on: loose equality,
// properties hidden from older versions, `var` inside `with`, __resolve, arrays and their methods.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "avm1_asm.h"
#include "swf/avm1/array.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {
namespace {

using test::Asm;
using test::Null;
using test::Reg;
using test::Undef;

std::vector<std::string> Lines(Asm& code, int version) {
  Vm vm(version);
  std::vector<std::string> lines;
  vm.traceSink = [&](std::string_view s) { lines.emplace_back(s); };
  Object* timeline = vm.NewObject();
  vm.BeginFrameBudget();
  vm.RunScript(code.Build(), timeline);
  return lines;
}

std::string Joined(Asm& code, int version) {
  std::string out;
  for (auto& l : Lines(code, version)) out += (out.empty() ? "" : "|") + l;
  return out;
}

// obj.method(args...) with the arguments already pushed in reverse order.
Asm& CallOn(Asm& a, const std::string& var, const std::string& method, int argc) {
  return a.Push({argc}).Get(var).Push({method}).Op(0x52);
}

struct Case {
  const char* what;
  int version;
  std::function<void(Asm&)> code;
  const char* expected;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Asm a;
    c.code(a);
    EXPECT_EQ(Joined(a, c.version), c.expected) << c.what << " (SWF " << c.version << ")";
  }
}

TEST(Avm1Language, LooseEquality) {
  auto boxed = [](Asm& a, int n) { a.Push({n, 1, "Object"}).Op(0x3D); };
  RunCases({
      {"NaN == NaN", 5,
       [](Asm& a) {
         a.Push({0.0, 0.0}).Op(0x0D).Op(0x4C).Op(0x49).Trace();
       },
       "true"},
      {"NaN == NaN", 8,
       [](Asm& a) {
         a.Push({0.0, 0.0}).Op(0x0D).Op(0x4C).Op(0x49).Trace();
       },
       "true"},
      {"boxed 1 == boxed 1 compares values in SWF 5", 5,
       [&](Asm& a) {
         boxed(a, 1);
         boxed(a, 1);
         a.Op(0x49).Trace();
       },
       "true"},
      {"boxed 1 == boxed 1 compares identity later", 6,
       [&](Asm& a) {
         boxed(a, 1);
         boxed(a, 1);
         a.Op(0x49).Trace();
       },
       "false"},
      {"two plain objects differ in SWF 5", 5,
       [](Asm& a) { a.Push({0}).Op(0x43).Push({0}).Op(0x43).Op(0x49).Trace(); }, "false"},
      {"_global == undefined", 6, [](Asm& a) { a.Get("_global").Push({Undef{}}).Op(0x49).Trace(); },
       "true"},
      {"null == _global", 8, [](Asm& a) { a.Push({Null{}}).Get("_global").Op(0x49).Trace(); },
       "true"},
      {"{} == undefined", 8, [](Asm& a) { a.Push({0}).Op(0x43).Push({Undef{}}).Op(0x49).Trace(); },
       "false"},
      {"an object whose valueOf gives NaN equals NaN", 5,
       [](Asm& a) {
         a.Push({"valueOf"}).Function("", {}, [](Asm& f) { f.Get("NaN").Op(0x3E); });
         a.Push({1}).Op(0x43);
         a.Push({0.0, 0.0}).Op(0x0D).Op(0x49).Trace();
       },
       "true"},
      // "a" == {toString: "a"} and "a" == {valueOf: "a"}: only valueOf is asked, and eq (the
      // text comparison) asks toString.
      {"a text equals an object by its valueOf only", 7,
       [](Asm& a) {
         for (const char* method : {"toString", "valueOf"}) {
           a.Push({"a", method}).Function("", {}, [](Asm& f) { f.Push({"a"}).Op(0x3E); });
           a.Push({1}).Op(0x43).StoreRegister(0).Op(0x49).Trace();
           a.Push({"a", Reg{0}}).Op(0x13).Trace();
         }
       },
       "false|true|true|false"},
  });
}

TEST(Avm1Language, PropertiesHiddenFromOlderVersions) {
  // o = {p: "v"}; ASSetPropFlags(o, "p", flag, 0); o.p; o.hasOwnProperty("p"); o.p = "w"; o.p
  auto hide = [](int flag) {
    return [flag](Asm& a) {
      a.Push({"o", "p", "v", 1}).Op(0x43).Op(0x1D);
      a.Push({0, flag, "p"}).Get("o").Push({4, "ASSetPropFlags"}).Op(0x3D).Op(0x17);
      a.Get("o").Push({"p"}).Op(0x4E).Trace();
      a.Push({"p"});
      CallOn(a, "o", "hasOwnProperty", 1).Trace();
      a.Get("o").Push({"p", "w"}).Op(0x4F);
      a.Get("o").Push({"p"}).Op(0x4E).Trace();
    };
  };
  RunCases({
      {"SWF 10 only, seen by 8", 8, hide(1 << 14), "undefined|true|w"},
      {"SWF 10 only, seen by 10", 10, hide(1 << 14), "v|true|w"},
      {"SWF 6 up, seen by 5", 5, hide(1 << 7), "undefined|true|w"},
      {"SWF 6 up, seen by 6", 6, hide(1 << 7), "v|true|w"},
      {"not SWF 6, seen by 6", 6, hide(1 << 8), "undefined|true|w"},
      {"not SWF 6, seen by 7", 7, hide(1 << 8), "v|true|w"},
      {"SWF 8 up, seen by 7", 7, hide(1 << 12), "undefined|true|w"},
  });
}

TEST(Avm1Language, ScopesAndResolve) {
  RunCases({
      {"var inside with sets the with object's own property", 8,
       [](Asm& a) {
         a.Push({"m", "b", 20, 1}).Op(0x43).Op(0x1D);
         a.Get("m").With([](Asm& w) { w.Push({"b", 10}).Op(0x3C).Push({"c", 10}).Op(0x3C); });
         a.Get("m").Push({"b"}).Op(0x4E).Trace();
         a.Get("m").Push({"c"}).Op(0x4E).Trace();
         a.Get("c").Trace();
       },
       "10|undefined|10"},
      {"a __resolve that is a number leaves the search to the prototype", 8,
       [](Asm& a) {
         a.Push({"p", "__resolve"}).Function("", {"n"}, [](Asm& f) {
           f.Push({"resolved "}).Get("n").Op(0x47).Op(0x3E);
         });
         a.Push({1}).Op(0x43).Op(0x1D);
         a.Push({"o", "__proto__"}).Get("p").Push({1}).Op(0x43).Op(0x1D);
         a.Get("o").Push({"__resolve", 42}).Op(0x4F);
         a.Get("o").Push({"x"}).Op(0x4E).Trace();
         a.Get("o").Push({"__resolve", 0}).Op(0x43).Op(0x4F);
         a.Get("o").Push({"x"}).Op(0x4E).Trace();
       },
       "resolved x|undefined"},
      {"hasOwnProperty sees __proto__; an empty name stores nothing", 7,
       [](Asm& a) {
         a.Push({"o", 0}).Op(0x43).Op(0x1D);
         a.Get("o").Push({"", 1}).Op(0x4F);
         a.Push({"__proto__"});
         CallOn(a, "o", "hasOwnProperty", 1).Trace();
         a.Push({""});
         CallOn(a, "o", "hasOwnProperty", 1).Trace();
       },
       "true|false"},
      {"InitArray with a count beyond the stack makes nothing", 8,
       [](Asm& a) {
         a.Push({"a", "b", 4294967297.0}).Op(0x42).Trace().Trace().Trace();
       },
       "undefined|b|a"},
  });
}

// a = [3, 1, 2]; then `call` (which pushes its arguments and calls a method on a); then a.
std::function<void(Asm&)> OnArray(std::function<void(Asm&)> call) {
  return [call](Asm& a) {
    a.Push({"a", 2, 1, 3, 3}).Op(0x42).Op(0x1D);
    call(a);
    a.Trace().Get("a").Trace();
  };
}

TEST(Avm1Language, ArrayMethodArguments) {
  RunCases({
      {"sort(undefined) sorts nothing", 8,
       OnArray([](Asm& a) { CallOn(a.Push({Undef{}}), "a", "sort", 1); }), "undefined|3,1,2"},
      {"sort(true, 0) sorts nothing", 8, OnArray([](Asm& a) {
         CallOn(a.Push({0, true}), "a", "sort", 2);
       }),
       "undefined|3,1,2"},
      {"sort(flags, undefined) takes the first flags", 8, OnArray([](Asm& a) {
         CallOn(a.Push({Undef{}, 2}), "a", "sort", 2);
       }),
       "3,2,1|3,2,1"},
      {"sort(flags, flags) takes the second", 8, OnArray([](Asm& a) {
         CallOn(a.Push({16, 2}), "a", "sort", 2);
       }),
       "1,2,3|1,2,3"},
      {"sort({}) sorts in the default order", 8,
       OnArray([](Asm& a) { CallOn(a.Push({0}).Op(0x43), "a", "sort", 1); }), "1,2,3|1,2,3"},
      {"splice(undefined) splices nothing", 8,
       OnArray([](Asm& a) { CallOn(a.Push({Undef{}}), "a", "splice", 1); }), "undefined|3,1,2"},
      {"splice(1, -1) splices nothing", 8, OnArray([](Asm& a) {
         CallOn(a.Push({-1, 1}), "a", "splice", 2);
       }),
       "undefined|3,1,2"},
      {"splice(1, undefined) splices nothing", 8, OnArray([](Asm& a) {
         CallOn(a.Push({Undef{}, 1}), "a", "splice", 2);
       }),
       "undefined|3,1,2"},
      {"splice(1, 1) takes one", 8, OnArray([](Asm& a) {
         CallOn(a.Push({1, 1}), "a", "splice", 2);
       }),
       "1|3,2"},
      {"sortOn() sorts nothing", 8, OnArray([](Asm& a) { CallOn(a, "a", "sortOn", 0); }),
       "undefined|3,1,2"},
      {"sortOn a field that texts lack sorts the texts themselves", 8, OnArray([](Asm& a) {
         CallOn(a.Push({16, "nofield"}), "a", "sortOn", 2);
       }),
       "1,2,3|1,2,3"},
  });
}

TEST(Avm1Language, SortOrderIsThePlayers) {
  RunCases({
      // Elements that compare equal do not keep their order.
      {"case-insensitive sort", 8,
       [](Asm& a) {
         a.Push({"a", "test", "H\xC3\x8BLLO", "h\xC3\xABllo", "TeSt", 4}).Op(0x42).Op(0x1D);
         CallOn(a.Push({1}), "a", "sort", 1).Op(0x17).Get("a").Trace();
       },
       "H\xC3\x8BLLO,h\xC3\xABllo,TeSt,test"},
      // The comparator sees the pivot first: [3,1,2] compares (3,1), (3,2), then (2,1).
      {"comparisons a comparator sees", 8, OnArray([](Asm& a) {
         a.Function("", {"x", "y"}, [](Asm& f) {
           f.Get("x").Push({" "}).Op(0x47).Get("y").Op(0x47).Trace();
           f.Get("x").Get("y").Op(0x0B).Op(0x3E);
         });
         CallOn(a, "a", "sort", 1).Op(0x17).Push({"="});
       }),
       "3 1|3 2|2 1|=|1,2,3"},
  });
}

TEST(Avm1Language, SortOfAnOrderedOrContradictoryArrayEndsSoon) {
  // In order, the first-element pivot is the quick sort's worst case: it must not cost n^2.
  const std::size_t n = 200000;
  std::vector<std::size_t> idx(n);
  std::iota(idx.begin(), idx.end(), std::size_t{0});
  std::size_t calls = 0;
  auto cmp = [&](std::size_t x, std::size_t y) {
    ++calls;
    return x < y ? -1 : x > y ? 1 : 0;
  };
  sorting::PlayerSort(idx, cmp, [] { return false; });
  EXPECT_TRUE(std::is_sorted(idx.begin(), idx.end()));
  EXPECT_LT(calls, 110 * n);  // a few times n log n
  // Reversed and all equal sort as well.
  std::vector<std::size_t> rev(1000), same(1000);
  for (std::size_t i = 0; i < rev.size(); ++i) rev[i] = rev.size() - 1 - i;
  std::iota(same.begin(), same.end(), std::size_t{0});
  sorting::PlayerSort(rev, cmp, [] { return false; });
  EXPECT_TRUE(std::is_sorted(rev.begin(), rev.end()));
  sorting::PlayerSort(
      same, [](std::size_t, std::size_t) { return 0; }, [] { return false; });
  std::sort(same.begin(), same.end());
  for (std::size_t i = 0; i < same.size(); ++i) ASSERT_EQ(same[i], i);  // still a permutation
  // A comparator that answers at random still ends with every element once.
  std::vector<std::size_t> rnd(5000);
  std::iota(rnd.begin(), rnd.end(), std::size_t{0});
  std::uint32_t state = 0x12345678;
  calls = 0;
  sorting::PlayerSort(
      rnd,
      [&](std::size_t, std::size_t) {
        ++calls;
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % 3) - 1;
      },
      [] { return false; });
  EXPECT_LT(calls, 200 * rnd.size());
  std::sort(rnd.begin(), rnd.end());
  for (std::size_t i = 0; i < rnd.size(); ++i) ASSERT_EQ(rnd[i], i);
}

// p.x is watched by a watcher that counts its calls, sets p.x = "c" and notes what p.x then
// reads, and lets the value through; p.x = 1 is set, then the count, p.x and the note are traced.
void WatchedFromItsWatcher(Asm& a) {
  a.Push({"count", 0}).Op(0x1D);
  a.Push({"p", 0}).Op(0x43).Op(0x1D);
  a.Function("", {"n", "old", "v"}, [](Asm& f) {
    f.Push({"count"}).Get("count").Push({1}).Op(0x47).Op(0x1D);
    f.Get("p").Push({"x", "c"}).Op(0x4F);
    f.Push({"note"}).Get("p").Push({"x"}).Op(0x4E).Op(0x1D);
    f.Get("v").Op(0x3E);
  });
  a.Push({"x", 2}).Get("p").Push({"watch"}).Op(0x52).Op(0x17);
  a.Get("p").Push({"x", 1}).Op(0x4F);
  a.Get("count").Trace();
  a.Get("p").Push({"x"}).Op(0x4E).Trace();
  a.Get("note").Trace();
}

TEST(Avm1Language, TextOrderAndWatchedVirtualProperties) {
  RunCases({
      // U+FF61 against the pair of surrogates that stands for U+10002 (as the movie stores it).
      {"text order is by character", 7,
       [](Asm& a) {
         a.Push({"\xEF\xBD\xA1", "\xED\xA0\x80\xED\xB0\x82"}).Op(0x48).Trace();
       },
       "true"},
      {"a watcher of a virtual property sees the value beneath it", 8,
       [](Asm& a) {
         a.Push({"p", "x", 3, 1}).Op(0x43).Op(0x1D);
         a.Push({Null{}}).Function("", {}, [](Asm& f) { f.Push({"got"}).Op(0x3E); });
         a.Push({"x", 3}).Get("p").Push({"addProperty"}).Op(0x52).Op(0x17);
         a.Function("", {"n", "old", "v"},
                    [](Asm& f) { f.Push({"old "}).Get("old").Op(0x47).Trace().Get("v").Op(0x3E); });
         a.Push({"x", 2}).Get("p").Push({"watch"}).Op(0x52).Op(0x17);
         a.Get("p").Push({"x", 4}).Op(0x4F);
         a.Get("p").Push({"x"}).Op(0x4E).Trace();
       },
       "old 3|got"},
      // The same, with a watcher that adds properties to the object (its properties move in
      // memory while the watcher runs).
      {"a watcher of a virtual property may add properties", 8,
       [](Asm& a) {
         a.Push({"p", "x", 3, 1}).Op(0x43).Op(0x1D);
         a.Push({Null{}}).Function("", {}, [](Asm& f) { f.Push({"got"}).Op(0x3E); });
         a.Push({"x", 3}).Get("p").Push({"addProperty"}).Op(0x52).Op(0x17);
         a.Function("", {"n", "old", "v"}, [](Asm& f) {
           for (int i = 0; i < 40; ++i) f.Get("p").Push({"k" + std::to_string(i), i}).Op(0x4F);
           f.Push({"old "}).Get("old").Op(0x47).Trace().Get("v").Op(0x3E);
         });
         a.Push({"x", 2}).Get("p").Push({"watch"}).Op(0x52).Op(0x17);
         a.Get("p").Push({"x", 4}).Op(0x4F);
         a.Get("p").Push({"x"}).Op(0x4E).Trace();
         a.Get("p").Push({"k39"}).Op(0x4E).Trace();
       },
       "old 3|got|39"},
      // A set from within the watcher calls it again from version 7, up to 65 calls deep (the
      // innermost call's set is a plain one); before version 7 it is a plain set at once.
      {"a watcher's own set calls it again, 65 deep", 7, WatchedFromItsWatcher, "65|1|c"},
      {"a watcher's own set is a plain one before version 7", 6, WatchedFromItsWatcher, "1|1|c"},
  });
}

// for (k in a) trace of the keys in the order for..in gives them, as one line "k,k,...".
void ListKeys(Asm& a) {
  a.Push({"keys", ""}).Op(0x1D);
  a.Get("a").Op(0x55);
  a.Label("next").StoreRegister(0).Push({Null{}}).Op(0x49).If("done");
  a.Push({"keys"}).Get("keys").Push({test::Reg{0}}).Op(0x47).Push({","}).Op(0x47).Op(0x1D);
  a.Jump("next");
  a.Label("done").Get("keys").Trace();
}

// a = []; a[i] = i for each of `places` (in that order).
std::function<void(Asm&)> Sparse(std::vector<int> places, std::function<void(Asm&)> then) {
  return [places, then](Asm& a) {
    a.Push({"a", 0}).Op(0x42).Op(0x1D);
    for (int p : places) a.Get("a").Push({p, p}).Op(0x4F);
    then(a);
  };
}

TEST(Avm1Language, ArraysKeepTheOrderTheirElementsWereMadeIn) {
  auto method = [](const char* name, std::initializer_list<test::Item> args) {
    return [name, args](Asm& a) {
      a.Push(args);
      CallOn(a, "a", name, static_cast<int>(args.size())).Op(0x17);
      a.Get("a").Trace();
      ListKeys(a);
    };
  };
  RunCases({
      {"gaps are not elements", 8,
       Sparse({4},
              [](Asm& a) {
                a.Get("a").Trace();
                ListKeys(a);
                a.Push({3});
                CallOn(a, "a", "hasOwnProperty", 1).Trace();
              }),
       "undefined,undefined,undefined,undefined,4|4,|false"},
      {"reverse empties and refills both ends", 8, Sparse({4}, method("reverse", {})),
       "4,undefined,undefined,undefined,undefined|3,1,4,0,"},
      {"shift refills every place", 8, Sparse({2, 3, 5}, method("shift", {})),
       "undefined,2,3,undefined,5|4,3,2,1,0,"},
      {"unshift moves from the last element", 8, Sparse({0, 1, 2}, method("unshift", {9})),
       "9,0,1,2|0,1,2,3,"},
      {"pop takes the stored value beneath a getter", 8,
       Sparse({0, 1, 2},
              [](Asm& a) {
                a.Push({Null{}}).Function("", {}, [](Asm& f) { f.Push({10}).Op(0x3E); });
                a.Push({"2"});
                CallOn(a, "a", "addProperty", 3).Op(0x17);
                a.Get("a").Push({2}).Op(0x4E).Trace();
                CallOn(a, "a", "pop", 0).Trace();
              }),
       "10|2"},
      {"a negative length is kept", 8,
       [](Asm& a) {
         a.Push({"a", -1, 1, "Array"}).Op(0x40).Op(0x1D);
         a.Get("a").Push({"length"}).Op(0x4E).Trace();
       },
       "-1"},
      {"a shorter length deletes the elements beyond it", 8,
       Sparse({0, 1, 2},
              [](Asm& a) {
                a.Get("a").Push({"length", 1}).Op(0x4F);
                a.Get("a").Push({"length", 3}).Op(0x4F);
                a.Get("a").Trace();
              }),
       "0,undefined,undefined"},
  });
}

TEST(Avm1Language, ArrayMethodsOnOtherObjectsReadTheirOwnStoredValues) {
  // o = {length: 2, 0: "x"} with __proto__ an array ["p", "q"]: join sees only its own "0".
  Asm a;
  a.Push({"o", "length", 2, "0", "x", 2}).Op(0x43).Op(0x1D);
  a.Get("o").Push({"__proto__", "q", "p", 2}).Op(0x42).Op(0x4F);
  a.Push({0}).Get("o").Push({"join"}).Op(0x52).Trace();
  a.Get("o").Push({1}).Op(0x4E).Trace();
  EXPECT_EQ(Joined(a, 8), "x,undefined|q");
}

TEST(Avm1Language, CaseMappingAndNamesBeforeSwf7) {
  const struct {
    char16_t upper, lower;
  } pairs[] = {{u'A', u'a'},     {0x00C4, 0x00E4}, {0x0100, 0x0101}, {0x0391, 0x03B1},
               {0x0410, 0x0430}, {0x01C4, 0x01C6}, {0xFF21, 0xFF41}};
  for (auto& p : pairs) {
    EXPECT_EQ(LowerUnit(p.upper), p.lower) << static_cast<int>(p.upper);
    EXPECT_EQ(UpperUnit(p.lower), p.upper) << static_cast<int>(p.lower);
  }
  // Characters the player leaves alone: digits, a CJK ideograph, a letter newer than its table.
  for (char16_t c : {u'5', char16_t{0x4E00}, char16_t{0x2C65}}) {
    EXPECT_EQ(LowerUnit(c), c);
    EXPECT_EQ(UpperUnit(c), c);
  }
  // The title-case DZ folds like the others, and names differ in byte length alike.
  EXPECT_TRUE(EqualsFolded("\xC7\x85x", "\xC7\x84X"));
  EXPECT_TRUE(EqualsFolded("cl\xC3\x84", "CL\xC3\xA4"));
  EXPECT_FALSE(EqualsFolded("a", "\xC3\xA4"));
  RunCases({
      {"toUpperCase beyond ASCII", 8,
       [](Asm& a) {
         a.Push({0, "\xC3\xA4\xCE\xB1x", "toUpperCase"}).Op(0x52).Trace();
       },
       "\xC3\x84\xCE\x91X"},
      {"toUpperCase of SWF 5 changes ASCII only", 5,
       [](Asm& a) {
         a.Push({0, "\xC3\xA4x", "toUpperCase"}).Op(0x52).Trace();
       },
       "\xC3\xA4X"},
  });
}

TEST(Avm1Language, ConstructorsAndNativeTables) {
  // function F() {}; o = new F(); o.hasOwnProperty("constructor"); o.constructor == F
  auto instance = [](Asm& a) {
    a.Function("F", {}, [](Asm&) {});
    a.Push({"o", 0, "F"}).Op(0x40).Op(0x1D);
    a.Push({"constructor"});
    CallOn(a, "o", "hasOwnProperty", 1).Trace();
    a.Get("o").Push({"constructor"}).Op(0x4E).Get("F").Op(0x66).Trace();
  };
  auto native = [](std::initializer_list<test::Item> args) {
    return [args](Asm& a) {
      a.Push({"%26", 1});  // the call's argument and count, below the function
      a.Push(args).Push({static_cast<int>(args.size()), "ASnative"}).Op(0x3D);
      a.Push({Undef{}}).Op(0x52).Trace();
    };
  };
  RunCases({
      {"an instance holds its constructor before SWF 7", 6, instance, "true|true"},
      {"and finds it on the prototype from SWF 7", 7, instance, "false|true"},
      {"ASnative(100, 1) is unescape", 8, native({1, 100}), "&"},
      {"the index wraps as a 32-bit integer", 8, native({4294967297.0, 100}), "&"},
      {"a third argument gives nothing", 8, native({0, 1, 100}), "undefined"},
      {"an unknown table gives nothing", 8, native({1, "x"}), "undefined"},
      {"Math has no entry 50: NaN", 8, native({50, 200}), "NaN"},
      {"Math entry 9 is sqrt", 8,
       [](Asm& a) {
         a.Push({16, 1, 9, 200, 2, "ASnative"}).Op(0x3D).Push({Undef{}}).Op(0x52).Trace();
       },
       "4"},
      // ASnative(2, 0): whether the innermost script function was called by `new`, also when a
      // native (here Function.call) calls it from there.
      {"ASnative(2, 0) tells a construction", 8,
       [](Asm& a) {
         a.Push({"n", 0, 2, 2, "ASnative"}).Op(0x3D).Op(0x1D);
         a.Function("g", {}, [](Asm& f) { f.Push({0, "n"}).Op(0x3D).Trace(); });
         a.Function("F", {}, [](Asm& f) {
           f.Push({0, "n"}).Op(0x3D).Trace();
           f.Push({0}).Get("n").Push({"call"}).Op(0x52).Trace();
           f.Push({0, "g"}).Op(0x3D).Op(0x17);
         });
         a.Push({0, "F"}).Op(0x3D).Op(0x17);
         a.Push({0, "F"}).Op(0x40).Op(0x17);
         a.Push({0, "n"}).Op(0x3D).Trace();
       },
       "false|false|false|true|true|false|false"},
  });
}

TEST(Avm1Language, VarAndFunctionWithPaths) {
  RunCases({
      {"var with a path on a timeline sets where the path leads", 8,
       [](Asm& a) {
         a.Push({"o", 0}).Op(0x43).Op(0x1D);
         a.Push({"o.x", "X"}).Op(0x3C);
         a.Push({"missing.y", "Y"}).Op(0x3C);
         a.Get("o").Push({"x"}).Op(0x4E).Trace();
         a.Get("missing.y").Trace();
       },
       "X|undefined"},
      {"var with a path and no value keeps what is there", 8,
       [](Asm& a) {
         a.Push({"o", "x", "kept", 1}).Op(0x43).Op(0x1D);
         a.Push({"o.x"}).Op(0x41).Push({"o.z"}).Op(0x41);
         a.Get("o").Push({"x"}).Op(0x4E).Trace();
         a.Push({"z"});
         CallOn(a, "o", "hasOwnProperty", 1).Trace();
       },
       "kept|true"},
      {"a function named with a path on a timeline", 8,
       [](Asm& a) {
         a.Push({"o", 0}).Op(0x43).Op(0x1D);
         a.Function("o.f", {}, [](Asm& f) { f.Push({"called"}).Op(0x3E); });
         a.Push({0}).Get("o").Push({"f"}).Op(0x52).Trace();
       },
       "called"},
      {"in a function, var keeps the name and a local function runs on the locals", 8,
       [](Asm& a) {
         a.Function("outer", {}, [](Asm& f) {
           f.Push({"o.x", "local"}).Op(0x3C);
           f.Push({"inner"}).Function(
               "", {}, [](Asm& g) { g.Get("this").Push({"o.x"}).Op(0x4E).Op(0x3E); });
           f.Op(0x3C);
           f.Push({0, "inner"}).Op(0x3D).Op(0x3E);
         });
         a.Push({0, "outer"}).Op(0x3D).Trace();
       },
       "local"},
  });
}

TEST(Avm1Language, CoercionsOfObjects) {
  // o = {toString: function () { trace("ts"); return <answer>; }}
  auto withToString = [](test::Item answer, std::function<void(Asm&)> then) {
    return [answer, then](Asm& a) {
      a.Push({"o", "toString"}).Function("", {}, [answer](Asm& f) {
        f.Push({"ts"}).Trace().Push({answer}).Op(0x3E);
      });
      a.Push({1}).Op(0x43).Op(0x1D);
      then(a);
    };
  };
  RunCases({
      {"a toString that gives no text makes [type Object]", 7,
       withToString(4, [](Asm& a) { a.Get("o").Op(0x4B).Trace(); }), "ts|[type Object]"},
      {"a toString that gives text", 7,
       withToString("T", [](Asm& a) { a.Get("o").Op(0x4B).Trace(); }), "ts|T"},
      {"object + object is NaN without toString", 7,
       withToString("T", [](Asm& a) { a.Get("o").Get("o").Op(0x47).Trace(); }), "NaN"},
      {"object + 1 is NaN", 7,
       withToString("T", [](Asm& a) { a.Get("o").Push({1}).Op(0x47).Trace(); }), "NaN"},
      {"object + text takes toString", 7,
       withToString("T", [](Asm& a) { a.Get("o").Push({"s"}).Op(0x47).Trace(); }), "ts|Ts"},
      {"text < object is false", 7,
       withToString("T", [](Asm& a) { a.Push({"a"}).Get("o").Op(0x48).Trace(); }), "false"},
      {"object < text is false", 7,
       withToString("T", [](Asm& a) { a.Get("o").Push({"a"}).Op(0x48).Trace(); }), "false"},
      {"object < number is undefined", 7,
       withToString("T", [](Asm& a) { a.Get("o").Push({1}).Op(0x48).Trace(); }), "undefined"},
      {"Function(x) is x", 8,
       [](Asm& a) {
         a.Push({5, 1, "Function"}).Op(0x3D).Trace();
       },
       "5"},
      {"Function() is an object without a prototype", 8,
       [](Asm& a) {
         a.Push({0, "Function"}).Op(0x3D).Op(0x4C).Trace().Push({"__proto__"}).Op(0x4E).Trace();
       },
       "[type Object]|undefined"},
  });
}

TEST(Avm1Language, SuperCalledByName) {
  // function B() { trace("B " + this.n); }  function C() { this.n = 1; super(); trace(...); }
  // C extends B; new C();
  Asm a;
  a.Function("B", {},
             [](Asm& f) { f.Push({"B "}).Get("this").Push({"n"}).Op(0x4E).Op(0x47).Trace(); });
  a.Function("C", {}, [](Asm& f) {
    f.Get("this").Push({"n", 1}).Op(0x4F);
    f.Push({0, "super"}).Op(0x3D).Op(0x17);
    f.Get("super").Push({"__proto__"}).Op(0x4E).Get("Object").Push({"prototype"}).Op(0x4E);
    f.Op(0x66).Trace();
  });
  a.Get("C").Get("B").Op(0x69);
  a.Push({0, "C"}).Op(0x40).Op(0x17);
  EXPECT_EQ(Joined(a, 8), "B 1|true");
}

TEST(Avm1Language, SuperOfAnOwnMethodStartsAtThePrototype) {
  // o = {__constructor__: k, m: function () { trace("m"); trace("r " + super()); }}; o.m();
  // p.addProperty("__constructor__", function () { trace("get"); return k; }, null);
  // o.__proto__ = p; o.m();
  Asm a;
  a.Function("k", {}, [](Asm& f) { f.Push({"k"}).Trace().Push({7}).Op(0x3E); });
  a.Push({"o", "__constructor__"}).Get("k").Push({"m"});
  a.Function("", {}, [](Asm& f) {
    f.Push({"m"}).Trace();
    f.Push({"r "}).Push({0, "super"}).Op(0x3D).Op(0x47).Trace();
  });
  a.Push({2}).Op(0x43).Op(0x1D);
  a.Push({0}).Get("o").Push({"m"}).Op(0x52).Op(0x17);
  a.Push({"p", 0, "Object"}).Op(0x40).Op(0x1D);
  a.Push({Null{}});
  a.Function("", {}, [](Asm& f) { f.Push({"get"}).Trace().Get("k").Op(0x3E); });
  a.Push({"__constructor__", 3}).Get("p").Push({"addProperty"}).Op(0x52).Op(0x17);
  a.Get("o").Push({"__proto__"}).Get("p").Op(0x4F);
  a.Push({0}).Get("o").Push({"m"}).Op(0x52).Op(0x17);
  // The object's own constructor is not its super's; the prototype's is read when super() runs.
  EXPECT_EQ(Joined(a, 8), "m|r undefined|m|get|k|r 7");
}

TEST(Avm1Language, AnAccessorsSuperIsAboveThePrototypeItWasFoundOn) {
  // A.prototype: get p() { return "A:" + this.tag }   B.prototype (above it A.prototype):
  // get p() { return "B>" + super.__get__p() }, set p(v) { trace("set " + super.__get__p()) }
  // b = new B(); b.tag = "t"; trace(b.p); b.p = 1;
  Asm a;
  a.Function("A", {}, [](Asm&) {});
  a.Function("B", {}, [](Asm&) {});
  a.Get("B").Push({"prototype"}).Op(0x4E).Push({"__proto__"}).Get("A").Push({"prototype"});
  a.Op(0x4E).Op(0x4F);
  a.Push({Null{}});
  a.Function("", {},
             [](Asm& f) { f.Push({"A:"}).Get("this").Push({"tag"}).Op(0x4E).Op(0x47).Op(0x3E); });
  a.Push({"p", 3}).Get("A").Push({"prototype"}).Op(0x4E).Push({"addProperty"}).Op(0x52).Op(0x17);
  a.Function("", {"v"}, [](Asm& f) {
    f.Push({"set "}).Push({0}).Get("super").Push({"__get__p"}).Op(0x52).Op(0x47).Trace();
  });
  a.Function("", {}, [](Asm& f) {
    f.Push({"B>"}).Push({0}).Get("super").Push({"__get__p"}).Op(0x52).Op(0x47).Op(0x3E);
  });
  a.Push({"p", 3}).Get("B").Push({"prototype"}).Op(0x4E).Push({"addProperty"}).Op(0x52).Op(0x17);
  // A.prototype.__get__p = (A's getter), so that super can call it by name.
  a.Get("A").Push({"prototype"}).Op(0x4E).Push({"__get__p"});
  a.Function("", {},
             [](Asm& f) { f.Push({"A:"}).Get("this").Push({"tag"}).Op(0x4E).Op(0x47).Op(0x3E); });
  a.Op(0x4F);
  a.Push({"b", 0, "B"}).Op(0x40).Op(0x1D);
  a.Get("b").Push({"tag", "t"}).Op(0x4F);
  a.Get("b").Push({"p"}).Op(0x4E).Trace();
  a.Get("b").Push({"p", 1}).Op(0x4F);
  EXPECT_EQ(Joined(a, 6), "B>A:t|set A:t");
}

TEST(Avm1Language, AccessorsAndWatchersDoNotReenterThemselves) {
  RunCases({
      // o.addProperty("p", get: return o.p, set: o.p = "f"); o.p = "b"; trace(o.p)
      {"a setter's own write and a getter's own read are plain", 6,
       [](Asm& a) {
         a.Push({"o", 0}).Op(0x43).Op(0x1D);
         a.Function("", {"v"}, [](Asm& f) {
           f.Push({"set"}).Trace().Get("o").Push({"p", "f"}).Op(0x4F);
         });
         a.Function("", {},
                    [](Asm& f) { f.Push({"get"}).Trace().Get("o").Push({"p"}).Op(0x4E).Op(0x3E); });
         a.Push({"p"});
         CallOn(a, "o", "addProperty", 3).Op(0x17);
         a.Get("o").Push({"p", "b"}).Op(0x4F);
         a.Get("o").Push({"p"}).Op(0x4E).Trace();
       },
       "set|get|b"},
      // o.p = "a"; o.watch("p", w) where w sets o.p = "c" and returns "d"
      {"a watcher's own write is plain", 6,
       [](Asm& a) {
         a.Push({"o", "p", "a", 1}).Op(0x43).Op(0x1D);
         a.Push({Undef{}}).Function("", {"n", "old", "v"}, [](Asm& f) {
           f.Push({"w"}).Trace().Get("o").Push({"p", "c"}).Op(0x4F);
           f.Get("o").Push({"p"}).Op(0x4E).Trace().Push({"d"}).Op(0x3E);
         });
         a.Push({"p"});
         CallOn(a, "o", "watch", 3).Op(0x17);
         a.Get("o").Push({"p", "b"}).Op(0x4F);
         a.Get("o").Push({"p"}).Op(0x4E).Trace();
       },
       "w|c|d"},
      // o.watch("p", w) where w traces old > new and returns new + 1; then
      // o.addProperty("p", get: return 5, set: trace "s " + v); o.p = 10; o.unwatch("p"); o.p = 4
      {"an accessor added under a watch keeps it, and the watcher's answers lie beneath", 7,
       [](Asm& a) {
         a.Push({"o", 0}).Op(0x43).Op(0x1D);
         a.Push({Undef{}}).Function("", {"n", "old", "v"}, [](Asm& f) {
           f.Push({"w "}).Get("old").Op(0x47).Push({">"}).Op(0x47).Get("v").Op(0x47).Trace();
           f.Get("v").Push({1}).Op(0x47).Op(0x3E);
         });
         a.Push({"p"});
         CallOn(a, "o", "watch", 3).Op(0x17);
         a.Function("", {"v"}, [](Asm& f) { f.Push({"s "}).Get("v").Op(0x47).Trace(); });
         a.Function("", {}, [](Asm& f) { f.Push({5}).Op(0x3E); });
         a.Push({"p"});
         CallOn(a, "o", "addProperty", 3).Op(0x17);
         a.Get("o").Push({"p", 10}).Op(0x4F);
         a.Push({"p"});
         CallOn(a, "o", "unwatch", 1).Trace();
         a.Get("o").Push({"p", 4}).Op(0x4F);
         a.Get("o").Push({"p"}).Op(0x4E).Trace();
       },
       "w undefined>undefined|w NaN>10|s 11|false|w 11>4|s 5|5"},
  });
}

}  // namespace
// An exception that no script catches is warned about in the trace log; a runaway recursion is
// not; and after a hundred warnings one line says the log stops taking them.
TEST(Avm1Language, UncaughtExceptionsAreWarnedUpToALimit) {
  Vm vm(8);
  std::vector<std::string> lines;
  vm.traceSink = [&](std::string_view s) { lines.emplace_back(s); };
  Object* timeline = vm.NewObject();
  auto run = [&](Asm& a) {
    vm.BeginFrameBudget();
    vm.RunScript(a.Build(), timeline);
  };
  Asm deep;
  deep.Function("f", {},
                [](Asm& f) {
                  f.Push({0, "f"}).Op(0x3D).Op(0x17);
                })
      .Push({0, "f"})
      .Op(0x3D)
      .Push({"after"})
      .Trace();
  run(deep);
  ASSERT_EQ(lines, std::vector<std::string>{});
  Asm caught;
  caught.Try(
      "e", [](Asm& t) { t.Push({"inner"}).Op(0x2A); }, [](Asm& c) { c.Get("e").Trace(); },
      [](Asm&) {}, true, false);
  run(caught);
  ASSERT_EQ(lines, std::vector<std::string>{"inner"});
  lines.clear();
  for (int i = 0; i < Vm::kMaxWarnings + 5; ++i) {
    Asm a;
    a.Push({"boom " + std::to_string(i)}).Op(0x2A).Push({"not reached"}).Trace();
    run(a);
  }
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(Vm::kMaxWarnings + 1));
  EXPECT_EQ(lines.front(), "Warning: Uncaught exception, boom 0");
  EXPECT_EQ(lines[Vm::kMaxWarnings - 1], "Warning: Uncaught exception, boom 99");
  EXPECT_EQ(lines.back(), "Warning: Reached warning limit of 100");
}

}  // namespace dbx::swf::avm1
