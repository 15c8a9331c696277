#include "common/record_change.h"

#include "common/ctl_error.h"
#include "common/record_fields.h"
#include "common/system_error_text.h"

namespace vorlund {

RecordChange putRecordInForce(ControlSession& session, const RecordBuilder& build,
                              const ChangeOptions& options) {
  session.requireDataFolder();
  // Taken before the record in force is read: another writer's change is then either
  // complete and built upon, or not started.
  if (!options.dryRun) {
    if (const DWORD error = session.lockWriters(options.lockWaitMs); error != ERROR_SUCCESS) {
      if (error == ERROR_LOCK_VIOLATION)
        throw CtlError(ExitCode::writersBusy,
                       "another writer kept ctl.lock in the data folder for " +
                           std::to_string(options.lockWaitMs) +
                           " ms; nothing changed (try again; a program that keeps holding it "
                           "holds up every change)");
      throw CtlError(error == ERROR_ACCESS_DENIED ? ExitCode::noPermission : ExitCode::ioFailure,
                     "cannot take the writers' lock ctl.lock in the data folder (" +
                         systemErrorText(error) + "); nothing changed");
    }
  }
  SharedFile& shared = session.sharedFile();
  if (shared.foreign())
    throw CtlError(ExitCode::sharedFileUnusable,
                   shared.problem() + "; it is left alone and nothing was saved");
  session.requireUsableSharedFile();

  RecordChange change;
  change.before = session.recordInForce();
  change.after = change.before.record;
  change.report = build(change.after);
  if (!change.report.ok()) return change;
  change.changed = !recordChanges(change.before.record, change.after).empty();
  if (!change.changed || options.dryRun) return change;

  change.publication = session.commit(change.after);
  change.committed = true;
  if (!change.publication.saved && !change.publication.published)
    throw CtlError(ExitCode::ioFailure, change.publication.saveError + "; nothing changed");
  return change;
}

}  // namespace vorlund
