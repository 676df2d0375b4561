// The classes of the player's surroundings: the host page bridge's encoders, PrintJob as each
// version sees it, and a file dialog that is cancelled after the script that opened it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "avm1_asm.h"
#include "swf/avm1/amf.h"
#include "swf/avm1/array.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {
namespace {

using test::Asm;
using test::Null;
using test::Undef;

struct Script {
  explicit Script(int version, Limits limits = {}) : vm(version, limits) {
    vm.traceSink = [this](std::string_view s) { out += (out.empty() ? "" : "|") + std::string(s); };
    timeline = vm.NewObject();
  }
  std::string Of(Asm& code) {
    out.clear();
    vm.BeginFrameBudget();
    vm.RunScript(code.Build(), timeline);
    return out;
  }
  Vm vm;
  Object* timeline;
  std::string out;
};

// trace(flash.external.ExternalInterface[method](<the value `push` leaves>)).
void TraceEncoded(Asm& a, const std::string& method, const std::function<void(Asm&)>& push) {
  push(a);
  a.Push({1}).Get("flash").Push({"external"}).Op(0x4E).Push({"ExternalInterface"}).Op(0x4E);
  a.Push({method}).Op(0x52).Trace();
}

TEST(Avm1System, HostPageEncodersEscapeAndNestAsThePageExpects) {
  auto str = [](const char* s) { return [s](Asm& a) { a.Push({s}); }; };
  struct Case {
    const char* method;
    std::function<void(Asm&)> push;
    const char* expected;
  } cases[] = {
      {"_escapeXML", str("a<b>&\"'c;"), "a&lt;b&gt;&amp;&quot;&apos;c;"},
      {"_escapeXML", str(""), "null"},
      {"_unescapeXML", str("&lt;x&gt; &amp;amp; &quot;&apos;&unknown;"), "<x> &amp; \"'&unknown;"},
      {"_jsQuoteString", str("say \"hi\" \\ 'x'"), "say \\\"hi\\\" \\ 'x'"},
      {"_toXML", str("<&>"), "<string>&lt;&amp;&gt;</string>"},
      {"_toXML", [](Asm& a) { a.Push({2.5}); }, "<number>2.5</number>"},
      {"_toXML", [](Asm& a) { a.Push({Null{}}); }, "<null/>"},
      {"_toXML", [](Asm& a) { a.Push({false}); }, "<false/>"},
      {"_toXML",
       [](Asm& a) {
         a.Push({Undef{}, true, "x", 1, 4}).Op(0x42);
       },  // [1, "x", true, undefined]
       "<array><property id=\"0\"><number>1</number></property><property id=\"1\"><string>x"
       "</string></property><property id=\"2\"><true/></property><property id=\"3\"><undefined/>"
       "</property></array>"},
      {"_toXML",
       [](Asm& a) {
         a.Push({"k", "v", 1}).Op(0x43);
       },  // {k: "v"}
       "<object><property id=\"k\"><string>v</string></property></object>"},
      {"_argumentsToXML",
       [](Asm& a) {
         a.Push({2, 1, "name", 3}).Op(0x42);
       },  // ["name", 1, 2]: the name is left out
       "<arguments><number>1</number><number>2</number></arguments>"},
  };
  for (const Case& c : cases) {
    Script r(8);
    Asm a;
    TraceEncoded(a, c.method, c.push);
    EXPECT_EQ(r.Of(a), c.expected) << c.method;
  }
}

// The host page's encoding read back from XML (and written again to compare): values by their
// node's name (as the page writes it: other cases are nothing), numbers as the player reads a
// text, arrays and objects from their properties, arguments from their children.
TEST(Avm1System, HostPageDecodersReadTheEncodingBack) {
  const struct {
    const char* method;
    const char* xml;
    const char* expected;
  } cases[] = {
      {"_toAS",
       "<array><property id=\"0\"><string>a</string></property><property id=\"1\"><number>2"
       "</number></property></array>",
       "<array><property id=\"0\"><string>a</string></property><property id=\"1\"><number>2"
       "</number></property></array>"},
      {"_toAS", "<object><property id=\"k\"><true/></property></object>",
       "<object><property id=\"k\"><true/></property></object>"},
      {"_toAS", "<number> -2.1</number>", "<number>-2.1</number>"},
      {"_toAS", "<number>-2.1 </number>", "<number>NaN</number>"},
      {"_toAS", "<number>Infinity</number>", "<number>NaN</number>"},
      {"_toAS", "<string/>", "<string>null</string>"},  // (no first child: null)
      {"_toAS", "<True/>", "<undefined/>"},
      {"_toAS", "<null/>", "<null/>"},
      {"_argumentsToAS", "<arguments><string>x</string><false/></arguments>",
       "<array><property id=\"0\"><string>x</string></property><property id=\"1\"><false/>"
       "</property></array>"},
      {"_arrayToAS", "<number>1</number>", "<array></array>"},
  };
  for (const auto& c : cases) {
    Script r(8);
    Asm a;
    TraceEncoded(a, "_toXML", [&](Asm& b) {
      b.Push({c.xml, 1, "XML"}).Op(0x40).Push({"firstChild"}).Op(0x4E);
      b.Push({1}).Get("flash").Push({"external"}).Op(0x4E).Push({"ExternalInterface"}).Op(0x4E);
      b.Push({c.method}).Op(0x52);
    });
    EXPECT_EQ(r.Of(a), c.expected) << c.method << " " << c.xml;
  }
}

TEST(Avm1System, AnObjectThatHoldsItselfEncodesToAnEnd) {
  Script r(8);
  Asm a;
  a.Push({"o", 0}).Op(0x43).Op(0x1D);           // o = {}
  a.Get("o").Push({"self"}).Get("o").Op(0x4F);  // o.self = o
  TraceEncoded(a, "_toXML", [](Asm& b) { b.Get("o"); });
  const std::string xml = r.Of(a);
  EXPECT_EQ(xml.rfind("<object>", 0), 0u);
  EXPECT_NE(xml.find("<null/>"), std::string::npos);
  EXPECT_LT(xml.size(), 10000u);
}

TEST(Avm1System, AFixedDateIsNowAndItsZoneIsTheLocalOne) {
  Script s(8);
  // 2001-02-02 22:20:06 UTC, in a zone 5 h 45 min ahead of it.
  s.vm.fixedDate = FixedDate{981152406000.0, (5 * 60 + 45) * 60000.0};
  Asm now;
  now.Push({0, "Date"}).Op(0x40).Trace();
  for (const char* method : {"getTimezoneOffset", "getDate", "getUTCDate"})
    now.Push({0, 0, "Date"}).Op(0x40).Push({method}).Op(0x52).Trace();
  EXPECT_EQ(s.Of(now), "Sat Feb 3 04:05:06 GMT+0545 2001|-345|3|2");
  // A local time given in parts is read in the same zone.
  Asm parts;
  parts.Push({0, 6, 5, 4, 3, 1, 2001, 6, "Date"}).Op(0x40).Push({"getTime"}).Op(0x52).Trace();
  EXPECT_EQ(s.Of(parts), "981152406000");
  // Without it, the system's clock: not the fixed moment.
  s.vm.fixedDate.reset();
  Asm system;
  system.Push({0, 0, "Date"}).Op(0x40).Push({"getTime"}).Op(0x52).Trace();
  EXPECT_NE(s.Of(system), "981152406000");
}

TEST(Avm1System, ADateAsANumberIsItsTimeAndBesideATextItsText) {
  Script s(8);
  s.vm.fixedDate = FixedDate{0, 0};
  Asm a;
  // new Date(new Date(5000)).getTime(): a copy of a date.
  a.Push({0, 5000, 1, "Date"}).Op(0x40).Push({1, "Date"}).Op(0x40).Push({"getTime"}).Op(0x52);
  a.Trace();
  // new Date(8000) - new Date(5000), and Number(new Date(7)).
  a.Push({8000, 1, "Date"}).Op(0x40).Push({5000, 1, "Date"}).Op(0x40).Op(0x0B).Trace();
  a.Push({7, 1, "Date"}).Op(0x40).Push({1, "Number"}).Op(0x3D).Trace();
  // "" + new Date(0) joins its text.
  a.Push({""}).Push({0, 1, "Date"}).Op(0x40).Op(0x47).Trace();
  EXPECT_EQ(s.Of(a), "5000|3000|7|Thu Jan 1 00:00:00 GMT+0000 1970");
}

// The parts of a date count in whole units, in the constructor and in the setters; a year below
// 100 is one of the 1900s, a negative one too.
TEST(Avm1System, DatePartsCountInWholeUnits) {
  Script s(8);
  s.vm.fixedDate = FixedDate{0, (5 * 60 + 45) * 60000.0};
  Asm a;
  // new Date(7002.5, 13.5, 32.5, 24.5, 60.5, 60.5, 1000.5): 4 March 7003 + 24 h 61 min 61 s.
  a.Push({1000.5, 60.5, 60.5, 24.5, 32.5, 13.5, 7002.5, 7, "Date"}).Op(0x40).Trace();
  a.Push({-7, -6, -5, -4, -3, -2, -1, 7, "Date"}).Op(0x40).Trace();
  // d = new Date(2000, 0, 1); d.setHours(24.5); d.setSeconds(1.9); trace(d)
  a.Push({"d"}).Push({1, 0, 2000, 3, "Date"}).Op(0x40).Op(0x1D);
  a.Push({24.5, 1}).Get("d").Push({"setHours"}).Op(0x52).Op(0x17);
  a.Push({1.9, 1}).Get("d").Push({"setSeconds"}).Op(0x52).Op(0x17);
  a.Get("d").Trace();
  EXPECT_EQ(s.Of(a),
            "Sat Mar 5 01:01:01 GMT+0545 7003|Thu Oct 27 19:54:53 GMT+0545 1898|"
            "Sun Jan 2 00:00:01 GMT+0545 2000");
}

TEST(Avm1System, PrintJobMethodsFromVersion7AndReadOnlySizes) {
  for (int version : {6, 7}) {
    Script r(version);
    Asm a;
    a.Push({"p", 0, "PrintJob"}).Op(0x40).Op(0x1D);        // p = new PrintJob()
    a.Get("p").Push({"start"}).Op(0x4E).Op(0x44).Trace();  // typeof p.start
    a.Get("p").Push({"pageWidth", 7}).Op(0x4F);            // p.pageWidth = 7
    a.Get("p").Push({"pageWidth"}).Op(0x4E).Trace();
    a.Get("p").Trace();
    EXPECT_EQ(r.Of(a), version >= 7 ? "function|0|[object Object]" : "undefined|0|[type Object]")
        << version;
  }
}

TEST(Avm1System, FileDialogIsCancelledAfterTheScriptThatOpenedIt) {
  Script r(8);
  Asm a;
  a.Push({"f", 0}).Get("flash").Push({"net"}).Op(0x4E).Push({"FileReference"}).Op(0x53).Op(0x1D);
  a.Push({"l", 0}).Op(0x43).Op(0x1D);
  a.Get("l").Push({"onCancel"}).Function("", {"ref"}, [](Asm& b) {
    b.Push({"cancelled "}).Get("ref").Get("f").Op(0x66).Op(0x47).Trace();
  });
  a.Op(0x4F);
  a.Get("l").Push({1}).Get("f").Push({"addListener"}).Op(0x52).Op(0x17);
  a.Push({0}).Get("f").Push({"browse"}).Op(0x52).Trace();
  a.Push({"after"}).Trace();
  EXPECT_EQ(r.Of(a), "true|after");
  r.out.clear();
  r.vm.RunTimers(-std::numeric_limits<double>::infinity());
  EXPECT_EQ(r.out, "cancelled true");
}

}  // namespace
}  // namespace dbx::swf::avm1

namespace dbx::swf::avm1 {
namespace {

// SharedObject.getLocal(name) from the script, left on the stack.
void GetLocal(Asm& a, const char* name) {
  a.Push({name, 1}).Get("SharedObject").Push({"getLocal"}).Op(0x52);
}

TEST(Avm1System, SharedObjectsKeepTheirDataForTheRun) {
  Script r(8);
  Asm a;
  GetLocal(a, "scores");
  a.Push({"data"}).Op(0x4E).Push({"best", 42}).Op(0x4F);  // getLocal("scores").data.best = 42
  GetLocal(a, "scores");
  a.Push({"data"}).Op(0x4E).Push({"best"}).Op(0x4E).Trace();
  GetLocal(a, "other");
  a.Push({"data"}).Op(0x4E).Push({"best"}).Op(0x4E).Trace();
  GetLocal(a, "bad:name");
  a.Trace();
  a.Push({0});
  GetLocal(a, "scores");
  a.Push({"flush"}).Op(0x52).Trace();
  a.Push({0});
  GetLocal(a, "scores");
  a.Push({"clear"}).Op(0x52).Op(0x17);
  GetLocal(a, "scores");
  a.Push({"data"}).Op(0x4E).Push({"best"}).Op(0x4E).Trace();
  EXPECT_EQ(r.Of(a), "42|undefined|null|true|undefined");
}

// Globals that scripts see from a version on, and the classes that exist without doing anything.
TEST(Avm1System, GlobalsShowFromTheVersionThatBroughtThem) {
  // typeof of each path, a dot between members.
  const char* paths[] = {
      "flash",  "flash.geom.Point", "Function",      "AsBroadcaster",   "AsBroadcaster.prototype",
      "Camera", "XMLSocket",        "Accessibility", "System.security", "ContextMenuItem"};
  for (int version : {5, 6, 7, 8}) {
    Script r(version);
    Asm a;
    for (std::string path : paths) {
      std::size_t dot = path.find('.');
      a.Get(path.substr(0, dot));
      while (dot != std::string::npos) {
        const std::size_t next = path.find('.', dot + 1);
        a.Push({path.substr(dot + 1, next - dot - 1)}).Op(0x4E);
        dot = next;
      }
      a.Op(0x44).Trace();
    }
    const std::string flash = version >= 8 ? "object|function" : "undefined|undefined";
    const std::string function = version >= 6 ? "function" : "undefined";
    const std::string proto = version >= 6 ? "object" : "undefined";
    EXPECT_EQ(r.Of(a), flash + "|" + function + "|function|" + proto +
                           "|function|function|object|object|function")
        << version;
  }
}

// A menu keeps what the movie sets: a copy takes the built-in items as they are and is a menu of
// its own; hiding the built-in items clears each.
TEST(Avm1System, ContextMenusCopyAndHideTheirBuiltInItems) {
  Script r(8);
  Asm a;
  a.Push({"m", 0, "ContextMenu"}).Op(0x40).Op(0x1D);  // m = new ContextMenu()
  a.Get("m").Push({"builtInItems"}).Op(0x4E).Push({"play", false}).Op(0x4F);
  a.Push({"c", 0}).Get("m").Push({"copy"}).Op(0x52).Op(0x1D);  // c = m.copy()
  a.Push({0}).Get("m").Push({"hideBuiltInItems"}).Op(0x52).Op(0x17);
  for (const char* menu : {"m", "c"})
    for (const char* item : {"play", "zoom"})
      a.Get(menu).Push({"builtInItems"}).Op(0x4E).Push({item}).Op(0x4E).Trace();
  a.Get("c").Push({"customItems"}).Op(0x4E).Push({"length"}).Op(0x4E).Trace();
  EXPECT_EQ(r.Of(a), "false|false|false|true|0");

  // A menu whose item list claims an endless length is copied until the frame's time for scripts
  // runs out; the rest of the script is then abandoned, as an endless loop's would be.
  Limits brief;
  brief.budget = std::chrono::milliseconds(50);
  Script s(8, brief);
  Asm b;
  b.Push({"m", 0, "ContextMenu"}).Op(0x40).Op(0x1D);
  b.Get("m").Push({"customItems"}).Op(0x4E).Push({"length", 1e300}).Op(0x4F);
  b.Push({0}).Get("m").Push({"copy"}).Op(0x52).Op(0x17);
  b.Push({"done"}).Trace();
  EXPECT_EQ(s.Of(b), "");
}

// A connection to nothing opens at once and says so; opening it again closes it first; closing
// an HTTP connection says it closed and then calls onStatus with nothing.
TEST(Avm1System, NetConnectionsTellTheirStatus) {
  Script r(8);
  Asm a;
  a.Push({"n", 0, "NetConnection"}).Op(0x40).Op(0x1D);  // n = new NetConnection()
  a.Get("n").Push({"onStatus"});
  a.Function("", {"e"}, [](Asm& f) {
    f.Get("e").Op(0x44).Trace();  // typeof e
    f.Get("e").Push({"code"}).Op(0x4E).Trace();
  });
  a.Op(0x4F);
  auto call = [&](const char* method, std::optional<test::Item> arg) {
    if (arg) a.Push({*arg});
    a.Push({arg ? 1 : 0}).Get("n").Push({method}).Op(0x52).Op(0x17);
  };
  call("close", std::nullopt);
  call("connect", Null{});
  call("connect", Null{});
  call("close", std::nullopt);
  call("connect", "http://example.org");
  call("close", std::nullopt);
  EXPECT_EQ(r.Of(a),
            "object|NetConnection.Connect.Success|object|NetConnection.Connect.Closed|object|"
            "NetConnection.Connect.Success|object|NetConnection.Connect.Closed|object|"
            "NetConnection.Connect.Closed|undefined|undefined");
}

// AMF0 as remoting calls send it: each kind of value, an object's properties (its own in the
// order they were made, then its prototype's; functions left out; a getter not called), the
// last name a class was registered with, arrays with holes and with other properties, and an
// object met again.
TEST(Avm1Amf, ValuesEncodeAsTheWireExpects) {
  Script r(8);
  Vm& vm = r.vm;
  using B = std::string;
  auto s16 = [](std::string_view t) { return B{0, static_cast<char>(t.size())} + B(t); };
  const B one = B("\x00\x3F\xF0", 3) + B(6, '\0');  // the number 1
  const B end("\x00\x00\x09", 3);
  const B undef("\x06");
  struct Row {
    Value v;
    B bytes;
  };
  std::vector<Row> rows = {{Value(1.0), one},
                           {Value(true), B("\x01\x01", 2)},
                           {Value("hi"), "\x02" + s16("hi")},
                           {Value::Null(), "\x05"},
                           {Value(), undef}};
  // {b: 1, a: "x", f: <function>, g: <getter>} over a prototype with p: 1.
  Object* proto = vm.NewObject();
  proto->SetOwn("p", Value(1.0));
  Object* o = vm.NewObject();
  o->SetProto(proto);
  o->SetOwn("b", Value(1.0));
  o->SetOwn("a", Value("x"));
  o->SetOwn("f", Value(static_cast<Object*>(vm.NewNative(nullptr))));
  bool called = false;
  static bool* calledFlag = nullptr;
  calledFlag = &called;
  o->props().Add("g").getter = vm.NewNative([](Vm&, CallArgs&) {
    *calledFlag = true;
    return Value(2.0);
  });
  rows.push_back({Value(o), "\x03" + s16("b") + one + s16("a") + "\x02" + s16("x") + s16("g") +
                                undef + s16("p") + one + end});
  // An instance of a class registered as "A", then as "B".
  Function* cls = vm.NewNative(nullptr);
  vm.RegisterClass(8, "A", cls);
  vm.RegisterClass(8, "B", cls);
  Object* typed = vm.NewObject();
  typed->SetOwn("__constructor__", Value(static_cast<Object*>(cls)), prop::kDontEnum);
  rows.push_back({Value(typed), "\x10" + s16("B") + end});
  // [1, <hole>] and an array with a named property; an object that holds itself.
  Object* holes = vm.NewArray({Value(1.0)});
  static_cast<ArrayObject*>(holes)->SetLength(vm, 2);
  rows.push_back({Value(holes), B("\x0A\x00\x00\x00\x02", 5) + one + undef});
  Object* mixed = vm.NewArray({Value(1.0)});
  mixed->SetOwn("n", Value("x"));
  rows.push_back({Value(mixed), B("\x08\x00\x00\x00\x01", 5) + s16("0") + one + s16("n") + "\x02" +
                                    s16("x") + end});
  Object* self = vm.NewObject();
  self->SetOwn("me", Value(self));
  rows.push_back({Value(self), "\x03" + s16("me") + B("\x07\x00\x00", 3) + end});
  for (const Row& row : rows) EXPECT_EQ(EncodeAmf0(vm, row.v), row.bytes) << vm.ToString(row.v);
  EXPECT_FALSE(called);
  // A class registered again under its name to another class has no name.
  vm.RegisterClass(8, "B", vm.NewNative(nullptr));
  EXPECT_EQ(EncodeAmf0(vm, Value(typed)), "\x10" + s16("A") + end);
}

// The calls of a frame on one connection go as one request at the next frame, each answered at
// its own "/n"; only when requests are logged (the screensaver sends nothing).
TEST(Avm1Amf, AFramesCallsGoAsOneRequest) {
  for (const bool logged : {false, true}) {
    Script r(8);
    r.vm.logFetches = logged;
    Asm a;
    a.Push({"n", 0, "NetConnection"}).Op(0x40).Op(0x1D);
    a.Push({"http://h/", 1}).Get("n").Push({"connect"}).Op(0x52).Op(0x17);
    a.Push({true, Null{}, "s.m", 3}).Get("n").Push({"call"}).Op(0x52).Op(0x17);
    a.Push({Null{}, "s.n", 2}).Get("n").Push({"call"}).Op(0x52).Op(0x17);
    EXPECT_EQ(r.Of(a), "");  // nothing goes before the frame ends
    SendRemotingRequests(r.vm);
    if (!logged) {
      EXPECT_EQ(r.out, "");
      continue;
    }
    EXPECT_EQ(r.out,
              "Navigator::fetch:|  URL: http://h/|  Method: POST|  Mime-Type: application/x-amf|"
              "  Body: [00, 00, 00, 00, 00, 02, "
              "00, 03, 73, 2E, 6D, 00, 02, 2F, 31, 00, 00, 00, 07, 0A, 00, 00, 00, 01, 01, 01, "
              "00, 03, 73, 2E, 6E, 00, 02, 2F, 32, 00, 00, 00, 05, 0A, 00, 00, 00, 00]");
  }
}

}  // namespace
}  // namespace dbx::swf::avm1
