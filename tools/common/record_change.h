// The one way a new record is put in force, for vorlund-ctl (set, load, preset,
// reset-defaults) and the control panel alike, so that both refuse and report the same: the
// writers' lock within a bounded wait, a foreign shared.bin refused before anything is saved,
// the record built on the one in force, a record without changes left uncommitted, then saved
// and published by ControlSession::commit.
#pragma once

#include <cstdint>
#include <functional>

#include "common/control_session.h"
#include "common/record_text.h"

namespace vorlund {

// Builds the next record from the one in force; a report with errors changes nothing.
using RecordBuilder = std::function<RecordReport(ParameterBlock& next)>;

struct RecordChange {
  RecordInForce before;
  ParameterBlock after{};
  RecordReport report;      // the builder's; with errors nothing was written
  bool changed = false;     // some field differs from the record in force
  bool committed = false;   // saved and/or published; never for a dry run or no change
  Publication publication;  // when committed
};

struct ChangeOptions {
  bool dryRun = false;  // builds and compares only: no lock, nothing written
  std::uint32_t lockWaitMs = 5000;
};

// Throws CtlError: noDataFolder; writersBusy when another writer keeps ctl.lock past the
// wait, noPermission or ioFailure when it cannot be taken at all; sharedFileUnusable for a
// foreign or unreadable shared.bin (nothing saved); ioFailure when the save failed and nothing
// was published. A save that failed while the publication went through is the caller's to
// report (publication.saved false): the change is live but does not survive a restart.
RecordChange putRecordInForce(ControlSession& session, const RecordBuilder& build,
                              const ChangeOptions& options = {});

}  // namespace vorlund
