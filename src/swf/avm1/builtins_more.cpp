// Date, Key, Mouse and System: the classes a screensaver needs less often than the core ones.
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

#include "swf/avm1/array.h"
#include "swf/avm1/bitmap_data.h"
#include "swf/avm1/builtins.h"
#include "swf/avm1/filters_object.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

double DaysFromCivil(double y, double m, double d) {
  y += std::floor(m / 12);
  m = std::fmod(m, 12);
  if (m < 0) m += 12;
  double yy = m < 2 ? y - 1 : y;
  double era = std::floor(yy / 400);
  double yoe = yy - era * 400;
  double mp = m < 2 ? m + 10 : m - 2;
  double doy = std::floor((153 * mp + 2) / 5) + d - 1;
  double doe = yoe * 365 + std::floor(yoe / 4) - std::floor(yoe / 100) + doy;
  return era * 146097 + doe - 719468;
}

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMsPerDay = 86400000.0;

// ---- Date ----------------------------------------------------------------------------------

struct Civil {
  double year, month, day, weekday, hour, minute, second, ms;
};

Civil FromTime(double t) {
  double days = std::floor(t / kMsPerDay);
  double msInDay = t - days * kMsPerDay;
  double z = days + 719468;
  double era = std::floor(z / 146097);
  double doe = z - era * 146097;
  double yoe = std::floor(
      (doe - std::floor(doe / 1460) + std::floor(doe / 36524) - std::floor(doe / 146096)) / 365);
  double y = yoe + era * 400;
  double doy = doe - (365 * yoe + std::floor(yoe / 4) - std::floor(yoe / 100));
  double mp = std::floor((5 * doy + 2) / 153);
  double d = doy - std::floor((153 * mp + 2) / 5) + 1;
  double m = mp < 10 ? mp + 2 : mp - 10;
  if (m <= 1) y += 1;
  Civil c{};
  c.year = y;
  c.month = m;
  c.day = d;
  c.weekday = std::fmod(days + 4, 7);
  if (c.weekday < 0) c.weekday += 7;
  c.hour = std::floor(msInDay / 3600000);
  c.minute = std::floor(std::fmod(msInDay, 3600000) / 60000);
  c.second = std::floor(std::fmod(msInDay, 60000) / 1000);
  c.ms = std::fmod(msInDay, 1000);
  return c;
}

double MakeTime(const Civil& c) {
  return DaysFromCivil(c.year, c.month, c.day) * kMsPerDay + c.hour * 3600000 + c.minute * 60000 +
         c.second * 1000 + c.ms;
}

// The local zone's offset from UTC in milliseconds at UTC time `t`.
double LocalOffset(const Vm& vm, double t) {
  if (!std::isfinite(t)) return 0;
  if (vm.fixedDate) return vm.fixedDate->zoneOffsetMs;
  std::time_t secs = static_cast<std::time_t>(std::floor(t / 1000));
  std::tm local{};
  std::tm* l = std::localtime(&secs);
  if (!l) return 0;
  local = *l;
  std::tm* u = std::gmtime(&secs);
  if (!u) return 0;
  std::tm utc = *u;
  Civil lc{static_cast<double>(local.tm_year + 1900), static_cast<double>(local.tm_mon),
           static_cast<double>(local.tm_mday),        0,
           static_cast<double>(local.tm_hour),        static_cast<double>(local.tm_min),
           static_cast<double>(local.tm_sec),         0};
  Civil uc{static_cast<double>(utc.tm_year + 1900), static_cast<double>(utc.tm_mon),
           static_cast<double>(utc.tm_mday),        0,
           static_cast<double>(utc.tm_hour),        static_cast<double>(utc.tm_min),
           static_cast<double>(utc.tm_sec),         0};
  return MakeTime(lc) - MakeTime(uc);
}

double Now(const Vm& vm) {
  if (vm.fixedDate) return vm.fixedDate->nowMs;
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count());
}

double TimeClip(double t) {
  if (!std::isfinite(t) || std::fabs(t) > 8.64e15) return kNaN;
  return std::trunc(t);
}

double ThisTime(CallArgs& a) {
  if (!a.self || a.self->cls() != ObjClass::kDate || !a.self->primitive.IsNumber()) return kNaN;
  return a.self->primitive.n;
}

// The time a date made of the constructor's arguments holds.
double TimeOfArguments(Vm& vm, const CallArgs& a) {
  double t;
  if (a.size() == 0) {
    t = Now(vm);
  } else if (a.size() == 1) {
    t = TimeClip(vm.ToNumber(a[0]));
  } else {
    Civil c{};
    double f[7] = {0, 0, 1, 0, 0, 0, 0};
    // Each part counts in whole units; a year below 100 (negative ones too) is one of the 1900s
    // or before.
    for (std::size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = std::trunc(vm.ToNumber(a[i]));
    c.year = f[0] < 100 ? 1900 + f[0] : f[0];
    c.month = f[1];
    c.day = f[2];
    c.hour = f[3];
    c.minute = f[4];
    c.second = f[5];
    c.ms = f[6];
    double local = MakeTime(c);
    t = TimeClip(local - LocalOffset(vm, local));
  }
  return t;
}

Value DateConstruct(Vm& vm, CallArgs& a) {
  Object* o = vm.heap().Make<Object>(a.self ? a.self->proto() : vm.dateProto, ObjClass::kDate);
  o->primitive = Value(TimeOfArguments(vm, a));
  return Value(o);
}
// Called without `new` it gives the time now as text; from the constructor of a class extending
// Date it makes the instance a date of its arguments, and super(...) gets it back.
Value DateCall(Vm& vm, CallArgs& a) {
  if (CalledFromSuper(vm, a) && a.self->BecomeWrapper(ObjClass::kDate, TimeOfArguments(vm, a)))
    return Value(a.self);
  CallArgs none;
  none.self = nullptr;
  return Value(vm.ToString(DateConstruct(vm, none)));
}

enum Field { kYear, kMonth, kDay, kWeekday, kHour, kMinute, kSecond, kMs, kFullYear };

template <Field F, bool Utc>
Value DateGet(Vm& vm, CallArgs& a) {
  double t = ThisTime(a);
  if (std::isnan(t)) return Value(kNaN);
  Civil c = FromTime(Utc ? t : t + LocalOffset(vm, t));
  switch (F) {
    case kYear:
      return Value(c.year - 1900);
    case kFullYear:
      return Value(c.year);
    case kMonth:
      return Value(c.month);
    case kDay:
      return Value(c.day);
    case kWeekday:
      return Value(c.weekday);
    case kHour:
      return Value(c.hour);
    case kMinute:
      return Value(c.minute);
    case kSecond:
      return Value(c.second);
    case kMs:
      return Value(c.ms);
  }
  return {};
}

template <Field F, bool Utc>
Value DateSet(Vm& vm, CallArgs& a) {
  if (!a.self || a.self->cls() != ObjClass::kDate) return {};
  double t = ThisTime(a);
  if (std::isnan(t)) t = 0;
  double off = Utc ? 0 : LocalOffset(vm, t);
  Civil c = FromTime(t + off);
  // (In whole units, as the constructor takes them.)
  auto arg = [&](std::size_t i, double def) {
    return i < a.size() && !a[i].IsUndefined() ? std::trunc(vm.ToNumber(a[i])) : def;
  };
  switch (F) {
    case kFullYear:
      c.year = arg(0, kNaN);
      c.month = arg(1, c.month);
      c.day = arg(2, c.day);
      break;
    case kYear: {
      double y = arg(0, kNaN);
      c.year = y >= 0 && y <= 99 ? 1900 + y : y;
      break;
    }
    case kMonth:
      c.month = arg(0, kNaN);
      c.day = arg(1, c.day);
      break;
    case kDay:
      c.day = arg(0, kNaN);
      break;
    case kHour:
      c.hour = arg(0, kNaN);
      c.minute = arg(1, c.minute);
      c.second = arg(2, c.second);
      c.ms = arg(3, c.ms);
      break;
    case kMinute:
      c.minute = arg(0, kNaN);
      c.second = arg(1, c.second);
      c.ms = arg(2, c.ms);
      break;
    case kSecond:
      c.second = arg(0, kNaN);
      c.ms = arg(1, c.ms);
      break;
    case kMs:
      c.ms = arg(0, kNaN);
      break;
    default:
      break;
  }
  double local = MakeTime(c);
  double nt = TimeClip(Utc ? local : local - LocalOffset(vm, local));
  a.self->primitive = Value(nt);
  return Value(nt);
}

Value DateGetTime(Vm&, CallArgs& a) {
  return Value(ThisTime(a));
}
Value DateSetTime(Vm& vm, CallArgs& a) {
  if (!a.self || a.self->cls() != ObjClass::kDate) return {};
  double t = TimeClip(vm.ToNumber(a[0]));
  a.self->primitive = Value(t);
  return Value(t);
}
Value DateTimezoneOffset(Vm& vm, CallArgs& a) {
  double t = ThisTime(a);
  if (std::isnan(t)) return Value(kNaN);
  return Value(-LocalOffset(vm, t) / 60000);
}
Value DateToString(Vm& vm, CallArgs& a) {
  double t = ThisTime(a);
  if (std::isnan(t)) return Value("Invalid Date");
  double off = LocalOffset(vm, t);
  Civil c = FromTime(t + off);
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[96];
  int offMin = static_cast<int>(off / 60000);
  std::snprintf(buf, sizeof buf, "%s %s %d %02d:%02d:%02d GMT%c%02d%02d %d",
                days[static_cast<int>(c.weekday)], months[static_cast<int>(c.month)],
                static_cast<int>(c.day), static_cast<int>(c.hour), static_cast<int>(c.minute),
                static_cast<int>(c.second), offMin < 0 ? '-' : '+', std::abs(offMin) / 60,
                std::abs(offMin) % 60, static_cast<int>(c.year));
  return Value(std::string(buf));
}
Value DateUTC(Vm& vm, CallArgs& a) {
  double f[7] = {kNaN, kNaN, 1, 0, 0, 0, 0};
  for (std::size_t i = 0; i < 7 && i < a.size(); ++i) f[i] = vm.ToNumber(a[i]);
  Civil c{};
  c.year = f[0] >= 0 && f[0] <= 99 ? 1900 + std::trunc(f[0]) : f[0];
  c.month = f[1];
  c.day = f[2];
  c.hour = f[3];
  c.minute = f[4];
  c.second = f[5];
  c.ms = f[6];
  return Value(TimeClip(MakeTime(c)));
}

// ---- small classes -------------------------------------------------------------------------

Value Noop(Vm&, CallArgs&) {
  return {};
}
Value ReturnFalse(Vm&, CallArgs&) {
  return Value(false);
}
Value ReturnTrue(Vm&, CallArgs&) {
  return Value(true);
}
Value PlainConstruct(Vm&, CallArgs& a) {
  return Value(a.self);
}

}  // namespace

void InstallMoreBuiltins(Vm& vm) {
  Heap& h = vm.heap();
  Object* g = vm.global;
  InstallXml(vm);
  InstallGeom(vm);
  InstallSystemObjects(vm);
  InstallBitmapData(vm);
  InstallFilters(vm);

  vm.dateProto = h.Make<Object>(vm.objectProto, ObjClass::kDate);
  vm.dateProto->primitive = Value(kNaN);
  Object* dateCtor = MakeClass(vm, g, "Date", DateCall, DateConstruct, vm.dateProto);
  vm.Method(dateCtor, "UTC", DateUTC);
  Object* dp = vm.dateProto;
  vm.Method(dp, "getTime", DateGetTime);
  vm.Method(dp, "valueOf", DateGetTime);
  vm.Method(dp, "setTime", DateSetTime);
  vm.Method(dp, "toString", DateToString);
  vm.Method(dp, "getTimezoneOffset", DateTimezoneOffset);
  vm.Method(dp, "getFullYear", DateGet<kFullYear, false>);
  vm.Method(dp, "getYear", DateGet<kYear, false>);
  vm.Method(dp, "getMonth", DateGet<kMonth, false>);
  vm.Method(dp, "getDate", DateGet<kDay, false>);
  vm.Method(dp, "getDay", DateGet<kWeekday, false>);
  vm.Method(dp, "getHours", DateGet<kHour, false>);
  vm.Method(dp, "getMinutes", DateGet<kMinute, false>);
  vm.Method(dp, "getSeconds", DateGet<kSecond, false>);
  vm.Method(dp, "getMilliseconds", DateGet<kMs, false>);
  vm.Method(dp, "getUTCFullYear", DateGet<kFullYear, true>);
  vm.Method(dp, "getUTCYear", DateGet<kYear, true>);
  vm.Method(dp, "getUTCMonth", DateGet<kMonth, true>);
  vm.Method(dp, "getUTCDate", DateGet<kDay, true>);
  vm.Method(dp, "getUTCDay", DateGet<kWeekday, true>);
  vm.Method(dp, "getUTCHours", DateGet<kHour, true>);
  vm.Method(dp, "getUTCMinutes", DateGet<kMinute, true>);
  vm.Method(dp, "getUTCSeconds", DateGet<kSecond, true>);
  vm.Method(dp, "getUTCMilliseconds", DateGet<kMs, true>);
  vm.Method(dp, "setFullYear", DateSet<kFullYear, false>);
  vm.Method(dp, "setYear", DateSet<kYear, false>);
  vm.Method(dp, "setMonth", DateSet<kMonth, false>);
  vm.Method(dp, "setDate", DateSet<kDay, false>);
  vm.Method(dp, "setHours", DateSet<kHour, false>);
  vm.Method(dp, "setMinutes", DateSet<kMinute, false>);
  vm.Method(dp, "setSeconds", DateSet<kSecond, false>);
  vm.Method(dp, "setMilliseconds", DateSet<kMs, false>);
  vm.Method(dp, "setUTCFullYear", DateSet<kFullYear, true>);
  vm.Method(dp, "setUTCMonth", DateSet<kMonth, true>);
  vm.Method(dp, "setUTCDate", DateSet<kDay, true>);
  vm.Method(dp, "setUTCHours", DateSet<kHour, true>);
  vm.Method(dp, "setUTCMinutes", DateSet<kMinute, true>);
  vm.Method(dp, "setUTCSeconds", DateSet<kSecond, true>);
  vm.Method(dp, "setUTCMilliseconds", DateSet<kMs, true>);

  // Key and Mouse: broadcasters; the runtime feeds them input.
  Object* key = vm.NewObject();
  g->SetOwn("Key", Value(key), prop::kDontEnum);
  InitializeBroadcaster(vm, key);
  const std::pair<const char*, int> keys[] = {
      {"BACKSPACE", 8}, {"CAPSLOCK", 20}, {"CONTROL", 17}, {"DELETEKEY", 46}, {"DOWN", 40},
      {"END", 35},      {"ENTER", 13},    {"ESCAPE", 27},  {"HOME", 36},      {"INSERT", 45},
      {"LEFT", 37},     {"PGDN", 34},     {"PGUP", 33},    {"RIGHT", 39},     {"SHIFT", 16},
      {"SPACE", 32},    {"TAB", 9},       {"UP", 38},      {"ALT", 18}};
  for (auto& [n, c] : keys) key->SetOwn(n, Value(c), prop::kDontEnum | prop::kDontDelete);
  vm.Method(key, "isDown", ReturnFalse);
  vm.Method(key, "isToggled", ReturnFalse);
  vm.Method(key, "getCode", [](Vm&, CallArgs&) { return Value(0); });
  vm.Method(key, "getAscii", [](Vm&, CallArgs&) { return Value(0); });

  Object* mouse = vm.NewObject();
  g->SetOwn("Mouse", Value(mouse), prop::kDontEnum);
  InitializeBroadcaster(vm, mouse);
  vm.Method(mouse, "show", [](Vm&, CallArgs&) { return Value(1); });
  vm.Method(mouse, "hide", [](Vm&, CallArgs&) { return Value(1); });

  Object* system = vm.NewObject();
  g->SetOwn("System", Value(system), prop::kDontEnum);
  Object* security = vm.NewObject();
  system->SetOwn("security", Value(security), prop::kDontEnum);
  for (const char* name : {"allowDomain", "allowInsecureDomain", "loadPolicyFile"})
    vm.Method(security, name, [](Vm&, CallArgs&) { return Value(); });
  Object* caps = vm.NewObject();
  system->SetOwn("capabilities", Value(caps), prop::kDontEnum);
  caps->SetOwn("os", Value("Windows XP"));
  caps->SetOwn("version", Value("WIN 10,0,0,0"));
  caps->SetOwn("playerType", Value("StandAlone"));
  caps->SetOwn("language", Value("en"));
  caps->SetOwn("screenResolutionX", Value(1920));
  caps->SetOwn("screenResolutionY", Value(1080));
  caps->SetOwn("hasAudio", Value(true));
  caps->SetOwn("pixelAspectRatio", Value(1));
  caps->SetOwn("screenDPI", Value(72));
  caps->SetOwn("manufacturer", Value("Dazzlebox"));
  vm.Method(system, "setClipboard", Noop);
  vm.Method(system, "showSettings", Noop);
  system->SetOwn("useCodepage", Value(false));
  // The input method editor: a broadcaster that is never enabled here.
  Object* ime = vm.NewObject();
  system->SetOwn("IME", Value(ime), prop::kDontEnum);
  InitializeBroadcaster(vm, ime);
  const std::pair<const char*, const char*> modes[] = {
      {"ALPHANUMERIC_FULL", "ALPHANUMERIC_FULL"},
      {"ALPHANUMERIC_HALF", "ALPHANUMERIC_HALF"},
      {"CHINESE", "CHINESE"},
      {"JAPANESE_HIRAGANA", "JAPANESE_HIRAGANA"},
      {"JAPANESE_KATAKANA_FULL", "JAPANESE_KATAKANA_FULL"},
      {"JAPANESE_KATAKANA_HALF", "JAPANESE_KATAKANA_HALF"},
      {"KOREAN", "KOREAN"},
      {"UNKNOWN", "UNKNOWN"}};
  for (auto& [n, v] : modes) ime->SetOwn(n, Value(v), prop::kDontEnum | prop::kDontDelete);
  vm.Method(ime, "getEnabled", ReturnFalse);
  vm.Method(ime, "setEnabled", ReturnFalse);
  vm.Method(ime, "getConversionMode", [](Vm&, CallArgs&) { return Value("UNKNOWN"); });
  vm.Method(ime, "setConversionMode", ReturnFalse);
  vm.Method(ime, "setCompositionString", ReturnFalse);
  vm.Method(ime, "doConversion", ReturnFalse);
  vm.Method(g, "getVersion", [](Vm&, CallArgs&) { return Value("WIN 10,0,0,0"); });
  vm.Method(g, "fscommand", Noop);
  (void)ReturnTrue;
  (void)PlainConstruct;
}

}  // namespace dbx::swf::avm1
