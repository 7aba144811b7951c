// The patch commands: what the patch library finds and does, as the
// program's lines, and its failures as fatal errors or exit statuses.
#include "patch.h"

#include <algorithm>
#include <vector>

#include "common.h"
#include "torvex/pack/packwriter.h"
#include "torvex/patch/patch.h"
#include "torvex/platform/files.h"
#include "torvex/platform/text.h"
#include "updatedelete.h"

namespace torvex {

namespace {

// The maker's progress as the lines of the command.
class MakeLines : public PatchEvents {
 public:
  void scanning(const std::string& working) override { report("scanning original file '%s'\n", working.c_str()); }
  void kept(const std::string& path, int64_t length) override {
    report("'%s' size %ld added\n", path.c_str(), static_cast<long>(length));
  }
  void creating(const std::string& pack, int64_t entries) override {
    report("creating patch file '%s' (%ld entries)\n", pack.c_str(), static_cast<long>(entries));
  }
  void created() override { report("patch file created successfully\n"); }
};

// The steps that end the command.
[[noreturn]] void stopmaking(const PatchStep& step) {
  const char* name = step.name.c_str();
  switch (step.status) {
    case PatchStep::kShpiMismatch:
      fatal("SHPI-file mismatch %s and %s", name, step.other.c_str());
    case PatchStep::kCantCreate:
      fatal("couldn't open '%s' for writing", name);
    case PatchStep::kCantReopen:
      fatal("couldn't open temporary file '%s'", name);
    case PatchStep::kRenameFailed:
      fatal("couldn't rename '%s' -> '%s'", step.other.c_str(), name);
    case PatchStep::kTooLarge:
      fatal("%s", step.other.c_str());
    default:
      break;
  }
  fatal("write error while writing '%s' (disk full?)", name);
}

// A listed file that could not be compared; false when that is a failure
// rather than a file deliberately passed over.
bool saywhy(const PatchStep& step) {
  const char* name = step.name.c_str();
  switch (step.status) {
    case PatchStep::kCantOpen:
      report("Couldn't open '%s'\n", name);
      return false;
    case PatchStep::kTooSmall:
      report("too small, ignored\n");
      return true;
    case PatchStep::kNotPack:
      report("not BIGF or C0FB pack file or compressed file, ignored\n");
      return true;
    case PatchStep::kCantScanReference:
      report("Couldn't load directory '%s'\n", name);
      return false;
    default:
      report("Couldn't load '%s'\n", name);
      return false;
  }
}

// Why a target is not patched; the command ends before anything is written.
[[noreturn]] void refusetarget(const TargetPlan& plan) {
  const char* path = plan.path.c_str();
  const char* detail = plan.detail.c_str();
  switch (plan.status) {
    case TargetPlan::kCantOpen:
      fatal("couldn't open '%s', nothing patched", path);
    case TargetPlan::kTooSmall:
    case TargetPlan::kNotPack:
      fatal("'%s' is not BIGF or C0FB pack file or compressed file, nothing patched", path);
    case TargetPlan::kCantLoad:
      fatal("couldn't load '%s', nothing patched", path);
    case TargetPlan::kUnsupported:
      fatal("'%s' is not supported packfile, nothing patched", path);
    case TargetPlan::kCantReadMember:
      fatal("couldn't load '%s', nothing patched", detail);
    case TargetPlan::kDamagedPatch:
      fatal("'%s' of the patch is damaged, nothing patched", detail);
    default:
      break;
  }
  fatal("'%s' would grow beyond what its fields can hold, nothing patched", detail);
}

void saynote(const PatchNote& note) {
  switch (note.kind) {
    case PatchNote::kReplaced:
      report("replaced '%s'\n", note.member.c_str());
      return;
    case PatchNote::kAdded:
      report("added '%s'\n", note.member.c_str());
      return;
    case PatchNote::kPictureReplaced:
      report("replaced '%s\\%s'\n", note.member.c_str(), note.picture.c_str());
      return;
    case PatchNote::kPictureAdded:
      report("added '%s\\%s'\n", note.member.c_str(), note.picture.c_str());
      return;
  }
}

// Writes one prepared target in one step.
void writetarget(TargetPlan& plan) {
  if (!plan.shpifile) {
    for (PackItem& item : plan.pack.items)
      if (item.offset == -1 && item.compress) {
        item.content = compressorstop(std::move(item.content));
        item.size = item.content.size;
      }
    writeorstop(plan.pack);
    return;
  }
  const Block bytes = plan.compress ? compressorstop(std::move(plan.shpi)) : std::move(plan.shpi);
  // The SHPI file is the one found, in whatever letter case it has.
  if (writefile(plan.path.c_str(), bytes.span(), NameMatch::kAnyCase) != FileWrite::kWritten)
    fatal("write error while writing '%s' (disk full?)", plan.path.c_str());
}

}  // namespace

int makepatch(const std::string& info, const std::string& patch, const std::string& reference) {
  return readingpacks([&] {
    const WholeFile text = readwholefile(info.c_str());
    if (text.status == WholeFile::kTooLarge) fatal("%s", toolargetext(info.c_str(), text.size, kMaxBlock).c_str());
    if (text.status != WholeFile::kRead) fatal("couldn't open patch-infofile '%s'", info.c_str());
    const PatchInfo parsed = readpatchinfo(
        std::string_view(reinterpret_cast<const char*>(text.bytes.get()), static_cast<size_t>(text.bytes.size)));
    if (!parsed.ok) fatal("patch-infofile syntax error");

    MakeLines lines;
    PatchSession session(lines);
    std::vector<PendingEntry> outer;
    bool complete = true;
    int counter = 0x1000;
    std::vector<std::string> seen;
    for (const std::string& name : parsed.files) {
      const std::string temppack = format("%s#%04X.tmp", name.c_str(), counter++);
      // A patch names each file once: one that names a file twice is not applied.
      if (std::any_of(seen.begin(), seen.end(), [&name](const std::string& s) { return nameequal(s, name); })) {
        report("'%s' is listed already, ignored\n", name.c_str());
        continue;
      }
      seen.push_back(name);
      if (!insidefolder(name)) {
        report("'%s' lies outside the current folder, ignored\n", name.c_str());
        complete = false;
        continue;
      }
      const PatchStep step = comparepack(session, ".\\" + name, underfolder(reference, name), temppack);
      if (endscommand(step.status)) stopmaking(step);
      if (step.status != PatchStep::kDone && !saywhy(step)) complete = false;
      if (step.count == 0) report("no differences found\n");
      else report("%ld different files/images\n", static_cast<long>(step.count));
      if (step.written) outer.push_back({name, temppack, false});
    }
    outer.push_back({"#README.TXT", "", true});
    const PatchStep step = writepatchpack(session, patch, outer, parsed.message);
    if (step.status != PatchStep::kDone) stopmaking(step);
    return complete ? kExitOk : kExitFailed;
  });
}

int applypatch(const std::string& patch, const std::string& folder) {
  return readingpacks([&] {
    const PatchContents contents = readpatch(patch.c_str());
    if (contents.status == PatchContents::kCantOpen) fatal("couldn't open patch file '%s'", patch.c_str());
    if (contents.status == PatchContents::kDamaged)
      fatal("'%s' is no patch or is damaged (%s), nothing patched", patch.c_str(), contents.damage.c_str());
    // The modder's own words, printed as they are.
    if (contents.message) services().consolewrite(*contents.message + "\n");

    // Every target is read and checked before the first one is written.
    std::vector<TargetPlan> plans;
    for (const PatchTarget& target : contents.targets) {
      TargetPlan plan = plantarget(underfolder(folder, target.name), target);
      if (plan.status != TargetPlan::kReady) refusetarget(plan);
      plans.push_back(std::move(plan));
    }
    for (TargetPlan& plan : plans) {
      report("patching '%s'\n", plan.path.c_str());
      for (const PatchNote& note : plan.notes) saynote(note);
      writetarget(plan);
      report("'%s' patched successfully\n", plan.path.c_str());
    }
    report("%d file(s) patched\n", static_cast<int>(plans.size()));
    return kExitOk;
  });
}

}  // namespace torvex
