#include "ai/PlainEvaluation.h"

namespace zemlix {

bool PlainEvaluationFlag = false;

void SetPlainEvaluation(bool plain) { PlainEvaluationFlag = plain; }

}  // namespace zemlix
