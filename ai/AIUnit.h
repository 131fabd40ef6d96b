#pragma once

// The neural controller: the bugs' networks, their chromosomes and breeding.
#include "ai/Chromosome.h"
#include "ai/NeuralNet.h"
#include "ai/Sigmoid.h"
#include "ai/WeightList.h"
