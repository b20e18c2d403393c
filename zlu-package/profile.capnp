@0xd3a8f1c26b5e4097;
# The cycle-profile file: one message, root Profile. The field numbers fix the
# wire layout; readers of versions 1 to 3 depend on it, so never renumber.

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("profile_capnp");

struct Profile {
  schemaVersion @0 :UInt32;
  clockHz @1 :UInt64;
  tiles @2 :List(TileProfile);
}

struct TileProfile {
  physicalTile @0 :UInt32;
  samples @1 :List(CycleSample);
}

struct CycleSample {
  step @0 :ProfileStep;
  startCycle @1 :UInt32;
  endCycle @2 :UInt32;
}

struct ProfileStep {
  localIndex @0 :UInt32;
  phase @1 :UInt32;
  epoch @2 :UInt32;
  operation @3 :Text;
  kind @4 :StepKind;
  kernel @5 :Text;
  metadata @6 :List(MetadataEntry);
}

struct MetadataEntry {
  name @0 :Text;
  value @1 :Text;
}

enum StepKind {
  exchange @0;
  compute @1;
  synchronization @2;
  idle @3;
}
