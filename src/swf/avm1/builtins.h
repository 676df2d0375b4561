// Helpers shared by the files that install built-in classes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

// Calls `name` on every listener of a broadcaster (an object made by AsBroadcaster.initialize).
void Broadcast(Vm& vm, Object* source, std::string_view name, const std::vector<Value>& args);
// Makes `o` a broadcaster: _listeners, addListener, removeListener, broadcastMessage.
void InitializeBroadcaster(Vm& vm, Object* o);
// Adds a class `name` to `parent` with its constructor functions and prototype.
Object* MakeClass(Vm& vm, Object* parent, std::string_view name, NativeFn call, NativeFn construct,
                  Object* proto);
// Whether a built-in constructor runs from the constructor of a class extending its class
// (super(...) calls it on the instance, with the class's prototype as home): it then makes that
// instance one of its own, where the instance allows it.
bool CalledFromSuper(Vm& vm, const CallArgs& a);
// A read-only property of `o` computed by `fn` (setting it does nothing).
void Getter(Vm& vm, Object* o, std::string_view name, NativeFn fn, std::uint16_t flags = 0);
// Days since 1970-01-01 of a civil date (proleptic Gregorian), months from 0; months outside
// 0..11 carry into the year.
double DaysFromCivil(double y, double m, double d);
// Date, Key, Mouse, System, getVersion and fscommand (Stage is the runtime's: it needs the movie).
void InstallMoreBuiltins(Vm& vm);
// XML and XMLNode.
void InstallXml(Vm& vm);
// Text with the five characters that XML reserves written as entities.
std::string EscapeXmlText(std::string_view s);
// flash.geom: Point and Matrix.
void InstallGeom(Vm& vm);
// PrintJob, LocalConnection, ExternalInterface, FileReference(List), SharedObject.
void InstallSystemObjects(Vm& vm);
// Calls the methods that LocalConnection.send asked for since the last frame on the objects
// connected to their names, and tells each sender's onStatus whether one was there.
void DeliverLocalMessages(Vm& vm);
// XMLSocket: what each connection heard since the last frame (onConnect, onData, onClose).
void DeliverSocketEvents(Vm& vm);
// NetConnection.call: the requests the last frame's calls made (written to the trace).
void SendRemotingRequests(Vm& vm);

}  // namespace dbx::swf::avm1
