#pragma once
// Handing record batches to an Arrow consumer through the C data interface.
//
// Exported structures own what they point at: a batch's columns move into the
// exported array, and whatever made a stream lives until the consumer
// releases it, so neither depends on the exporter staying around.

#include <cstdint>
#include <memory>
#include <span>

#include "error/failure.hpp"
#include "table/arrow_abi.hpp"
#include "table/column.hpp"

namespace orvane::table {

struct Field {
    const char* name;
    ColumnType type;
    bool nullable;
};

// A struct schema with one child for each field.
void export_schema(std::span<const Field> fields, ArrowSchema* out);

// A struct array whose children are the batch's columns.
void export_batch(Batch batch, ArrowArray* out);

// Where a stream's batches come from.
class BatchSource {
public:
    virtual ~BatchSource() = default;
    virtual std::span<const Field> fields() const noexcept = 0;
    // Fills `out` with the next batch (at least one row) and answers true, or
    // answers false at the end.
    [[nodiscard]] virtual Checked<bool> next(Batch& out) = 0;
};

// A stream over `source`. A failure reaches the consumer as an error code
// (EIO for an input or output error, EINVAL for any other hive error, ENOMEM
// when memory runs out) with the failure's message as the last error; the
// stream then keeps answering with that error.
void export_stream(std::unique_ptr<BatchSource> source, ArrowArrayStream* out);

// The error code export_stream() gives a failure.
int error_code(const error::Failure& failure) noexcept;

}  // namespace orvane::table
