#include "table/arrow_export.hpp"

#include <cerrno>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace orvane::table {

namespace {

// What an empty buffer points at: consumers may read a null pointer as a
// missing buffer rather than an empty one.
alignas(64) const std::uint8_t empty_buffer[64] = {};

const void* buffer_of(const void* data) noexcept { return data != nullptr ? data : empty_buffer; }

const char* format_of(ColumnType type) noexcept {
    switch (type) {
        case ColumnType::Bool: return "b";
        case ColumnType::UInt16: return "S";
        case ColumnType::UInt32: return "I";
        case ColumnType::UInt64: return "L";
        case ColumnType::Timestamp: return "tsu:UTC";
        case ColumnType::Utf8: return "u";
        case ColumnType::Binary: return "z";
        case ColumnType::Utf8List: return "+l";
        case ColumnType::Utf8Dictionary: return "i";  // the indices; the dictionary is utf8
    }
    return "n";
}

// ---- schemas ----

struct SchemaNode {
    std::vector<ArrowSchema*> children;
};

void release_schema(ArrowSchema* schema) {
    auto* node = static_cast<SchemaNode*>(schema->private_data);
    for (ArrowSchema* child : node->children) {
        if (child->release != nullptr) child->release(child);
        delete child;
    }
    if (schema->dictionary != nullptr) {
        if (schema->dictionary->release != nullptr) schema->dictionary->release(schema->dictionary);
        delete schema->dictionary;
    }
    delete node;
    schema->release = nullptr;
}

// Names and formats are string literals, which outlive every schema.
void fill_schema(ArrowSchema* out, const char* format, const char* name, bool nullable) {
    auto* node = new SchemaNode;
    *out = ArrowSchema{format, name, nullptr, nullable ? ARROW_FLAG_NULLABLE : 0, 0, nullptr, nullptr,
                       release_schema, node};
}

// A new child of `parent`, not yet filled (released as empty until it is).
ArrowSchema* add_child(ArrowSchema* parent) {
    auto* node = static_cast<SchemaNode*>(parent->private_data);
    node->children.reserve(node->children.size() + 1);
    node->children.push_back(new ArrowSchema{});
    parent->n_children = static_cast<std::int64_t>(node->children.size());
    parent->children = node->children.data();
    return node->children.back();
}

void fill_field(ArrowSchema* out, const Field& field) {
    fill_schema(out, format_of(field.type), field.name, field.nullable);
    if (field.type == ColumnType::Utf8List) fill_schema(add_child(out), "u", "item", false);
    if (field.type == ColumnType::Utf8Dictionary) {
        auto dictionary = std::make_unique<ArrowSchema>();
        fill_schema(dictionary.get(), "u", nullptr, false);
        out->dictionary = dictionary.release();
    }
}

// ---- arrays ----

struct ArrayNode {
    Column column{ColumnType::Bool};
    std::vector<const void*> buffers;
    std::vector<ArrowArray*> children;
};

void release_array(ArrowArray* array) {
    auto* node = static_cast<ArrayNode*>(array->private_data);
    for (ArrowArray* child : node->children) {
        if (child->release != nullptr) child->release(child);
        delete child;
    }
    if (array->dictionary != nullptr) {
        if (array->dictionary->release != nullptr) array->dictionary->release(array->dictionary);
        delete array->dictionary;
    }
    delete node;
    array->release = nullptr;
}

void fill_array(ArrowArray* out, Column column);

ArrowArray* new_array(Column column) {
    auto array = std::make_unique<ArrowArray>();
    fill_array(array.get(), std::move(column));
    return array.release();
}

void fill_array(ArrowArray* out, Column column) {
    auto node = std::make_unique<ArrayNode>();
    std::unique_ptr<Column> child = column.take_child();
    node->column = std::move(column);
    const Column& c = node->column;
    node->buffers.reserve(3);  // validity, then offsets and bytes at most
    node->buffers.push_back(c.validity().empty() ? nullptr : c.validity().data());
    switch (c.type()) {
        case ColumnType::Utf8:
        case ColumnType::Binary:
            node->buffers.push_back(buffer_of(c.offsets().data()));
            node->buffers.push_back(buffer_of(c.bytes().data()));
            break;
        case ColumnType::Utf8List:
            node->buffers.push_back(buffer_of(c.offsets().data()));
            break;
        default:
            node->buffers.push_back(buffer_of(c.values().data()));
            break;
    }
    ArrowArray* dictionary = nullptr;
    if (child != nullptr && c.type() == ColumnType::Utf8List) node->children.push_back(new_array(std::move(*child)));
    if (child != nullptr && c.type() == ColumnType::Utf8Dictionary) dictionary = new_array(std::move(*child));
    *out = ArrowArray{c.length(),
                      c.null_count(),
                      0,
                      static_cast<std::int64_t>(node->buffers.size()),
                      static_cast<std::int64_t>(node->children.size()),
                      node->buffers.data(),
                      node->children.empty() ? nullptr : node->children.data(),
                      dictionary,
                      release_array,
                      node.get()};
    node.release();
}

// ---- streams ----

struct StreamState {
    std::unique_ptr<BatchSource> source;
    std::string last_error;
    int failed = 0;  // the error code once the source has failed
    bool over = false;
};

StreamState& state_of(ArrowArrayStream* stream) { return *static_cast<StreamState*>(stream->private_data); }

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    try {
        export_schema(state_of(stream).source->fields(), out);
        return 0;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
    StreamState& state = state_of(stream);
    if (state.failed != 0) return state.failed;
    try {
        Batch batch;
        if (!state.over) {
            auto more = state.source->next(batch);
            if (!more) {
                state.failed = error_code(more.error());
                const RegistryError* registry_error = more.error().registry_error();
                state.last_error = registry_error != nullptr ? registry_error->message()
                                                             : more.error().internal_failure()->text;
                return state.failed;
            }
            state.over = !*more;
        }
        if (state.over) {
            out->release = nullptr;  // the end of the stream
            return 0;
        }
        export_batch(std::move(batch), out);
        return 0;
    } catch (const std::bad_alloc&) {
        state.last_error = "Out of memory";
        return state.failed = ENOMEM;
    } catch (const std::exception& e) {
        state.last_error = e.what();
        return state.failed = EIO;
    }
}

const char* stream_last_error(ArrowArrayStream* stream) {
    const StreamState& state = state_of(stream);
    return state.failed != 0 ? state.last_error.c_str() : nullptr;
}

void release_stream(ArrowArrayStream* stream) {
    delete static_cast<StreamState*>(stream->private_data);
    stream->release = nullptr;
}

}  // namespace

void export_schema(std::span<const Field> fields, ArrowSchema* out) {
    fill_schema(out, "+s", "", false);
    for (const Field& field : fields) fill_field(add_child(out), field);
}

void export_batch(Batch batch, ArrowArray* out) {
    auto node = std::make_unique<ArrayNode>();
    node->buffers.push_back(nullptr);  // no struct row is null
    node->children.reserve(batch.columns.size());
    for (Column& column : batch.columns) node->children.push_back(new_array(std::move(column)));
    *out = ArrowArray{batch.rows,
                      0,
                      0,
                      1,
                      static_cast<std::int64_t>(node->children.size()),
                      node->buffers.data(),
                      node->children.data(),
                      nullptr,
                      release_array,
                      node.get()};
    node.release();
}

void export_stream(std::unique_ptr<BatchSource> source, ArrowArrayStream* out) {
    auto state = std::make_unique<StreamState>();
    state->source = std::move(source);
    *out = ArrowArrayStream{stream_schema, stream_next, stream_last_error, release_stream, state.release()};
}

int error_code(const error::Failure& failure) noexcept {
    const RegistryError* registry_error = failure.registry_error();
    if (registry_error == nullptr) return EIO;
    return registry_error->is<error::Io>() ? EIO : EINVAL;
}

}  // namespace orvane::table
