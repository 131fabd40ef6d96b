#pragma once

namespace zemlix {

// A switch for tests: when on, Sigmoid, LookVector and the world's food scans skip their
// fast paths and evaluate the plain extended-precision definitions directly, so that a test
// can run one world each way and compare them tick by tick. Off by default; the program
// never turns it on.
void SetPlainEvaluation(bool plain);

extern bool PlainEvaluationFlag;
inline bool PlainEvaluation() { return PlainEvaluationFlag; }

}  // namespace zemlix
