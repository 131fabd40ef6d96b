#include "python/PythonValues.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace py = pybind11;

namespace zemlix {
namespace {

// Python's bool is an int; a flag given for a number is a mistake, not 1.
bool IsInteger(const py::handle& value) { return !PyBool_Check(value.ptr()) && PyIndex_Check(value.ptr()); }

bool IsReal(const py::handle& value) {
  return PyFloat_Check(value.ptr()) || py::isinstance(value, py::module_::import("numpy").attr("floating"));
}

bool IsSequence(const py::handle& value) {
  return PyList_Check(value.ptr()) || PyTuple_Check(value.ptr()) || py::isinstance<py::array>(value);
}

std::optional<int64_t> IntegerOf(const py::handle& value) {
  if (!IsInteger(value)) return std::nullopt;
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long integer = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0) return std::nullopt;
  return integer;
}

// The value as the registry takes it, or nothing for a type no parameter has.
std::optional<TParameterValue> ValueOf(const py::handle& value) {
  if (const std::optional<int64_t> integer = IntegerOf(value)) return *integer;
  if (IsReal(value)) return value.cast<double>();
  if (!IsSequence(value)) return std::nullopt;
  std::vector<int64_t> entries;
  for (const py::handle entry : value) {
    const std::optional<int64_t> integer = IntegerOf(entry);
    if (!integer) return std::nullopt;
    entries.push_back(*integer);
  }
  return entries;
}

std::string Repr(const py::handle& value) { return py::repr(value).cast<std::string>(); }

std::string ParameterNames() {
  std::string names;
  for (const TParameterInfo& info : ParameterRegistry()) names += (names.empty() ? "" : ", ") + std::string(info.Name);
  return names;
}

}  // namespace

TParameters ParametersFrom(const py::dict& values, TParameters base, std::vector<std::string>* given) {
  for (const auto& [key, value] : values) {
    const std::string name = py::str(key);
    const TParameterInfo* info = FindParameter(name);
    if (!info) throw py::value_error("unknown parameter '" + name + "'; the parameters are " + ParameterNames());
    const std::optional<TParameterValue> parsed = ValueOf(value);
    const std::string reason = parsed ? SetParameter(base, *info, *parsed)
                                      : "must be " + DescribeRange(*info) + ", not " + Repr(value);
    if (!reason.empty()) throw py::value_error(name + " " + reason);
    if (given) given->push_back(name);
  }
  return base;
}

py::dict ParametersDict(const TParameters& parameters) {
  py::dict values;
  for (const TParameterInfo& info : ParameterRegistry()) {
    if (info.Real)
      values[info.Name] = parameters.*info.Real;
    else if (info.Integer)
      values[info.Name] = parameters.*info.Integer;
    else
      values[info.Name] = py::cast(parameters.*info.List);
  }
  return values;
}

std::string ParameterHelp() {
  std::string help;
  for (const TParameterInfo& info : ParameterRegistry())
    help += "  " + std::string(info.Name) + " = " + DescribeDefault(info) + ": " + DescribeRange(info) + "; " +
            info.Meaning + "\n";
  return help;
}

uint32_t SeedFrom(const py::handle& seed) {
  const std::optional<int64_t> value = IntegerOf(seed);
  if (!value || *value < 0 || *value > std::numeric_limits<uint32_t>::max())
    throw py::value_error("seed must be an integer from 0 to 4294967295, not " + Repr(seed));
  return static_cast<uint32_t>(*value);
}

TSeedRange SeedRangeFrom(const py::handle& seeds) {
  const std::string refused = "seeds must be consecutive seeds from 0 to 4294967295 (a range with step 1, a list "
                              "such as [1, 2, 3] or one seed), not " + Repr(seeds);
  if (IsInteger(seeds)) {
    const uint32_t seed = SeedFrom(seeds);
    return {seed, seed};
  }
  if (!IsSequence(seeds) && !PyRange_Check(seeds.ptr())) throw py::type_error(refused);
  if (PyRange_Check(seeds.ptr()) && seeds.attr("step").cast<int64_t>() != 1) throw py::value_error(refused);
  const py::list list = py::reinterpret_steal<py::list>(PySequence_List(seeds.ptr()));
  if (!list) throw py::error_already_set();
  if (list.empty()) throw py::value_error(refused);
  std::optional<uint32_t> first, last;
  for (const py::handle entry : list) {
    const std::optional<int64_t> value = IntegerOf(entry);
    if (!value || *value < 0 || *value > std::numeric_limits<uint32_t>::max() || (last && *value != *last + 1LL))
      throw py::value_error(refused);
    if (!first) first = static_cast<uint32_t>(*value);
    last = static_cast<uint32_t>(*value);
  }
  return {*first, *last};
}

std::string SweepText(const py::handle& name, const py::handle& values) {
  if (!PyList_Check(values.ptr()) && !PyTuple_Check(values.ptr()) && !PyRange_Check(values.ptr()))
    throw py::type_error("sweep " + py::str(name).cast<std::string>() + ": the values must be a list, not " +
                         Repr(values));
  std::string text = py::str(name).cast<std::string>() + "=";
  bool first = true;
  for (const py::handle value : values) {
    text += first ? "" : ",";
    first = false;
    if (IsInteger(value)) {
      text += py::str(py::int_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
    } else if (IsReal(value)) {
      text += Repr(py::float_(value.cast<double>()));
    } else if (IsSequence(value)) {
      std::string list = "[";
      for (const py::handle entry : value) {
        if (list.size() > 1) list += ',';
        list += IsInteger(entry) ? py::str(entry).cast<std::string>() : Repr(entry);
      }
      text += list + "]";
    } else {
      text += Repr(value);  // refused by the registry, which shows it
    }
  }
  return text;
}

std::vector<double> WeightsFrom(const py::handle& weights, size_t length) {
  std::vector<double> values;
  if (py::isinstance<py::array>(weights)) {
    const py::array array = py::reinterpret_borrow<py::array>(weights);
    const py::dtype dtype = array.dtype();
    if (dtype.kind() != 'f' || (dtype.itemsize() != 8 && dtype.itemsize() != 4))
      throw py::type_error("weights must be float64 or float32, not " + dtype.attr("name").cast<std::string>());
    if (array.ndim() != 1)
      throw py::value_error("weights must be one-dimensional, " + std::to_string(length) + " values, not of shape " +
                            Repr(array.attr("shape")));
    const auto converted = py::array_t<double, py::array::forcecast>::ensure(array);
    values.assign(converted.data(), converted.data() + converted.size());
  } else if (PyList_Check(weights.ptr()) || PyTuple_Check(weights.ptr())) {
    for (const py::handle entry : weights) {
      if (!IsReal(entry) && !IsInteger(entry))
        throw py::type_error("weights must be reals, not " + Repr(entry));
      values.push_back(entry.cast<double>());
    }
  } else {
    throw py::type_error("weights must be a NumPy array or a list of reals, not " + Repr(weights));
  }
  if (values.size() != length)
    throw py::value_error("weights must hold " + std::to_string(length) + " values (the genome length), not " +
                          std::to_string(values.size()));
  for (size_t k = 0; k < values.size(); ++k)
    if (!std::isfinite(values[k]))
      throw py::value_error("weights[" + std::to_string(k) + "] is " + Repr(py::float_(values[k])) +
                            "; every weight must be finite");
  return values;
}

py::object CsvCell(const std::string& cell) {
  const char* end = cell.data() + cell.size();
  int64_t integer = 0;
  if (const auto [stop, error] = std::from_chars(cell.data(), end, integer); error == std::errc() && stop == end)
    return py::int_(integer);
  char* stop = nullptr;
  const double real = std::strtod(cell.c_str(), &stop);
  if (!cell.empty() && stop == end) return py::float_(real);
  return py::str(cell);
}

}  // namespace zemlix
