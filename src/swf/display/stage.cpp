#include "swf/display/stage.h"

namespace dbx::swf {

Stage::Stage(const Movie& movie) : movie_(movie) {
  Reset();
}

void Stage::Reset() {
  root_ = SpriteInstance{};
  root_.timeline = &movie_.timeline;
  instances_ = 0;
}

void Stage::Step() {
  StepInstance(root_, 0);
  // Rewinds drop instances; recount so that the bound stays exact over long runs.
  instances_ = CountInstances(root_);
}

int Stage::CountInstances(const SpriteInstance& inst) const {
  int n = 0;
  for (const auto& [depth, obj] : inst.objects)
    if (obj.sprite) n += 1 + CountInstances(*obj.sprite);
  return n;
}

void Stage::StepInstance(SpriteInstance& inst, int nesting) {
  if (!inst.timeline || inst.timeline->frames.empty()) return;
  const int count = static_cast<int>(inst.timeline->frames.size());
  // Children that already exist move on first; those placed by this frame start at their first.
  for (auto& [depth, obj] : inst.objects)
    if (obj.sprite) StepInstance(*obj.sprite, nesting + 1);
  int next = inst.frame + 1;
  if (next >= count) {
    if (count == 1 && inst.frame == 0) return;  // a one-frame timeline stays as it is
    next = 0;
    inst.objects.clear();
  }
  inst.frame = next;
  for (const PlaceCommand& cmd : inst.timeline->frames[static_cast<std::size_t>(next)].commands)
    Apply(inst, cmd, nesting);
}

void Stage::AttachCharacter(DisplayObject& obj, std::uint16_t id, int nesting) {
  obj.character = id;
  obj.sprite.reset();
  const auto it = movie_.characters.find(id);
  if (it == movie_.characters.end()) return;
  if (const auto* sprite = std::get_if<Sprite>(&it->second)) {
    if (nesting + 1 >= kMaxNesting || instances_ >= kMaxInstances) return;
    ++instances_;
    obj.sprite = std::make_unique<SpriteInstance>();
    obj.sprite->timeline = &sprite->timeline;
    StepInstance(*obj.sprite, nesting + 1);
  }
}

void Stage::Apply(SpriteInstance& inst, const PlaceCommand& cmd, int nesting) {
  if (cmd.kind == PlaceCommand::Kind::kRemove) {
    inst.objects.erase(cmd.depth);
    return;
  }
  auto it = inst.objects.find(cmd.depth);
  DisplayObject* obj = nullptr;
  if (cmd.character && (!cmd.move || it == inst.objects.end())) {
    // A new object; one already at the depth is replaced.
    DisplayObject fresh;
    obj = &(inst.objects[cmd.depth] = std::move(fresh));
    AttachCharacter(*obj, *cmd.character, nesting);
  } else if (it != inst.objects.end()) {
    obj = &it->second;
    if (cmd.character && *cmd.character != obj->character)
      AttachCharacter(*obj, *cmd.character, nesting);
  } else {
    return;  // modifies nothing
  }
  if (cmd.matrix) obj->matrix = *cmd.matrix;
  if (cmd.cxform) obj->cxform = *cmd.cxform;
  if (cmd.ratio) obj->ratio = *cmd.ratio;
  if (cmd.clipDepth) obj->clipDepth = *cmd.clipDepth;
  if (cmd.visible) obj->visible = *cmd.visible;
}

}  // namespace dbx::swf
