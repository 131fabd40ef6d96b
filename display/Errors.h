#pragma once

#include <stdexcept>
#include <string>

namespace zemlix {

// A view could not initialise ("Form not found", "Surface cannot be made").
class ESurfaceViewError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A canvas pass could not start ("Canvas does not allow drawing").
class ESurfaceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The sprite pictures could not bind to their view.
class ESpriteCollectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An index outside a list ("List index out of bounds (%d)").
class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

}  // namespace zemlix
