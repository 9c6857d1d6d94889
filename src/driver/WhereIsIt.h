#pragma once

class ProgramMap;
class TSXComm;

// A listening run that is stopped from outside usually is stopped because the
// program hangs: before the run ends, ask the module once where its program
// is and print "Program was at <class>.<method> (<file>:<line>)". Silent when
// the module does not answer within the status command's time-out, when its
// program counter lies outside the image (no program running), or when
// `program` is null (a stored image has no map to name it with). Raises
// nothing: the run ends as it would have without it.
void SayWhereProgramIs(TSXComm& comm, const ProgramMap* program);
