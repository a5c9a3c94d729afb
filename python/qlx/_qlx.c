/* qlx._qlx: libqlx's C API for Python, through qlx.h alone.

   Every function takes buffers (anything with the buffer protocol) and
   plain numbers, and releases the GIL while the library works. Outputs are
   written into buffers the caller allocated (NumPy arrays, in qlx/__init__.py),
   so that the arrays returned own their memory. A refused call raises
   qlx.Error, a ValueError whose .status is the library's code. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdint.h>
#include <string.h>

#include "qlx.h"

static PyObject *qlx_error;   /* qlx.Error */
static PyObject *status_type; /* qlx.Status, once the package has made it from status_names() */

static PyObject *raise_status(qlx_status status) {
    PyObject *text = PyUnicode_FromString(qlx_status_text(status));
    if (text == NULL) return NULL;
    PyObject *error = PyObject_CallOneArg(qlx_error, text);
    Py_DECREF(text);
    if (error == NULL) return NULL;
    PyObject *number = PyLong_FromLong((long)status);
    PyObject *code = number != NULL && status_type != NULL ? PyObject_CallOneArg(status_type, number) : number;
    if (code != number) Py_XDECREF(number);
    if (code == NULL || PyObject_SetAttrString(error, "status", code) != 0) {
        Py_XDECREF(code);
        Py_DECREF(error);
        return NULL;
    }
    Py_DECREF(code);
    PyErr_SetObject(qlx_error, error);
    Py_DECREF(error);
    return NULL;
}

/* The options, from the keywords the Python layer passes, already mapped
   to the library's numbers; the library checks their ranges. */
static int read_options(int dither, int strength, int transparent_index, int threads, int light, int alpha,
                        int background, int stable, qlx_options *options) {
    *options = qlx_default_options();
    options->stable = stable;
    options->dither = (qlx_dither)dither;
    options->strength = strength;
    options->transparent_index = transparent_index;
    options->threads = threads;
    options->light = (qlx_light)light;
    options->alpha = (qlx_alpha)alpha;
    options->background = background;
    qlx_status status = qlx_check_options(options);
    if (status != QLX_OK) {
        raise_status(status);
        return 0;
    }
    return 1;
}

PyDoc_STRVAR(expand_into_doc, "expand_into(indices, width, height, format, out)\n\nqlx_expand, rows unpadded.");

static PyObject *expand_into(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer indices, out;
    Py_ssize_t width, height;
    int format;
    if (!PyArg_ParseTuple(args, "y*nniw*", &indices, &width, &height, &format, &out)) return NULL;
    qlx_status status = QLX_SIZE_OVERFLOW;
    if (width >= 0 && height >= 0 && indices.len >= width * height) {
        const size_t stride = (size_t)width * qlx_pixel_bytes((qlx_pixel_format)format);
        Py_BEGIN_ALLOW_THREADS
        status = qlx_expand(indices.buf, (size_t)width, (size_t)height, (qlx_pixel_format)format, out.buf, stride,
                            (size_t)out.len);
        Py_END_ALLOW_THREADS
    } else if (width >= 0 && height >= 0) {
        status = QLX_INPUT_TOO_SHORT;
    }
    PyBuffer_Release(&indices);
    PyBuffer_Release(&out);
    if (status != QLX_OK) return raise_status(status);
    Py_RETURN_NONE;
}

PyDoc_STRVAR(bmp_dimensions_doc, "bmp_dimensions(data) -> (width, height)\n\nqlx_bmp_dimensions.");

static PyObject *bmp_dimensions(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer data;
    if (!PyArg_ParseTuple(args, "y*", &data)) return NULL;
    size_t width = 0, height = 0;
    qlx_status status = qlx_bmp_dimensions(data.buf, (size_t)data.len, &width, &height);
    PyBuffer_Release(&data);
    if (status != QLX_OK) return raise_status(status);
    return Py_BuildValue("nn", (Py_ssize_t)width, (Py_ssize_t)height);
}

PyDoc_STRVAR(from_bmp_into_doc,
             "from_bmp_into(data, out, dither, strength, transparent_index, threads, light)\n\nqlx_from_bmp.");

static PyObject *from_bmp_into(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer data, out;
    int dither, strength, transparent_index, threads, light, alpha, background, stable;
    if (!PyArg_ParseTuple(args, "y*w*iiiiiiii", &data, &out, &dither, &strength, &transparent_index, &threads,
                          &light, &alpha, &background, &stable)) {
        return NULL;
    }
    qlx_options options;
    qlx_status status = QLX_OK;
    if (!read_options(dither, strength, transparent_index, threads, light, alpha, background, stable, &options)) {
        PyBuffer_Release(&data);
        PyBuffer_Release(&out);
        return NULL;
    }
    Py_BEGIN_ALLOW_THREADS
    status = qlx_from_bmp(data.buf, (size_t)data.len, &options, out.buf, (size_t)out.len);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&data);
    PyBuffer_Release(&out);
    if (status != QLX_OK) return raise_status(status);
    Py_RETURN_NONE;
}

PyDoc_STRVAR(to_bmp_doc, "to_bmp(indices, width, height) -> bytes\n\nqlx_to_bmp: palexpand's bytes.");

static PyObject *to_bmp(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer indices;
    Py_ssize_t width, height;
    if (!PyArg_ParseTuple(args, "y*nn", &indices, &width, &height)) return NULL;
    const size_t size = width > 0 && height > 0 ? qlx_bmp_size((size_t)width, (size_t)height) : 0;
    if (size == 0) {
        PyBuffer_Release(&indices);
        return raise_status(QLX_SIDE_OUT_OF_RANGE);
    }
    PyObject *bmp = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)size);
    if (bmp == NULL) {
        PyBuffer_Release(&indices);
        return NULL;
    }
    uint8_t *out = (uint8_t *)PyBytes_AS_STRING(bmp);
    qlx_status status;
    Py_BEGIN_ALLOW_THREADS
    status = qlx_to_bmp(indices.buf, (size_t)indices.len, (size_t)width, (size_t)height, out, size);
    Py_END_ALLOW_THREADS
    PyBuffer_Release(&indices);
    if (status != QLX_OK) {
        Py_DECREF(bmp);
        return raise_status(status);
    }
    return bmp;
}

PyDoc_STRVAR(convert_size_doc,
             "convert_size(width, height, fit, box_width, box_height) -> (width, height)\n\nqlx_convert_size.");

static PyObject *convert_size(PyObject *self, PyObject *args) {
    (void)self;
    Py_ssize_t width, height, box_width, box_height;
    int fit;
    if (!PyArg_ParseTuple(args, "nninn", &width, &height, &fit, &box_width, &box_height)) return NULL;
    if (width < 0 || height < 0 || box_width < 0 || box_height < 0) return raise_status(QLX_SIDE_OUT_OF_RANGE);
    const qlx_picture picture = {(const uint8_t *)"", (size_t)width, (size_t)height, (size_t)width * 3, QLX_RGB,
                                 NULL, 0, NULL};
    size_t result_width = 0, result_height = 0;
    qlx_status status = qlx_convert_size(&picture, (qlx_fit)fit, (size_t)box_width, (size_t)box_height,
                                         &result_width, &result_height);
    if (status != QLX_OK) return raise_status(status);
    return Py_BuildValue("nn", (Py_ssize_t)result_width, (Py_ssize_t)result_height);
}

PyDoc_STRVAR(convert_into_doc,
             "convert_into(pixels, width, height, stride, format, palette, stored, fit, box_width, box_height, out, "
             "memory, dither, strength, transparent_index, threads, light, alpha, background, stable)\n\n"
             "qlx_convert_frame: `pixels` colours, or indices when `palette` (4 bytes an entry) is not None, with "
             "`stored` (or None); `memory` writable, or None for a frame on its own; `out` writable; the GIL "
             "released.");

/* An optional buffer: None, or one to read (writable: 0) or write (1). */
static int optional_buffer(PyObject *object, int writable, Py_buffer *view) {
    if (object == Py_None) return 1;
    return PyObject_GetBuffer(object, view, writable ? PyBUF_WRITABLE : PyBUF_SIMPLE) == 0;
}

/* What convert_into and closeness_of share: the picture, its box and the
   options, from args[0:10] (pixels, width, height, stride, format, palette,
   stored, fit, box_width, box_height) and args[first_option:first_option + 8]. */
typedef struct picture_call {
    Py_buffer pixels, palette, stored;
    qlx_picture picture;
    qlx_options options;
    qlx_fit fit;
    size_t box_width, box_height;
    qlx_status status; /* QLX_OK, or what the library would say of the sides */
} picture_call;

static void release_call(picture_call *call) {
    if (call->pixels.obj != NULL) PyBuffer_Release(&call->pixels);
    if (call->palette.obj != NULL) PyBuffer_Release(&call->palette);
    if (call->stored.obj != NULL) PyBuffer_Release(&call->stored);
}

/* 1 with the call read (its status may still be a refusal), or 0 with an
   exception set and nothing held. */
static int read_call(PyObject *args, Py_ssize_t first_option, picture_call *call) {
    PyObject *palette_object, *stored_object;
    Py_ssize_t width, height, stride, box_width, box_height;
    int format, fit, dither, strength, transparent_index, threads, light, alpha, background, stable;
    memset(call, 0, sizeof *call);
    PyObject *picture_args = PyTuple_GetSlice(args, 0, 10);
    PyObject *option_args = PyTuple_GetSlice(args, first_option, first_option + 8);
    const int parsed =
        picture_args != NULL && option_args != NULL &&
        PyArg_ParseTuple(picture_args, "y*nnniOOinn", &call->pixels, &width, &height, &stride, &format,
                         &palette_object, &stored_object, &fit, &box_width, &box_height) &&
        PyArg_ParseTuple(option_args, "iiiiiiii", &dither, &strength, &transparent_index, &threads, &light, &alpha,
                         &background, &stable);
    Py_XDECREF(picture_args);
    Py_XDECREF(option_args);
    if (!parsed || !optional_buffer(palette_object, 0, &call->palette) ||
        !optional_buffer(stored_object, 0, &call->stored) ||
        !read_options(dither, strength, transparent_index, threads, light, alpha, background, stable,
                      &call->options)) {
        release_call(call);
        return 0;
    }
    call->status = QLX_OK;
    if (stored_object != Py_None && (size_t)call->stored.len < (size_t)width * (size_t)height) {
        call->status = QLX_INPUT_TOO_SHORT;
    } else if (width < 0 || height < 0 || stride < 0 || box_width < 0 || box_height < 0) {
        call->status = QLX_SIDE_OUT_OF_RANGE;
    }
    const int indexed = palette_object != Py_None;
    const qlx_picture picture = {call->pixels.buf, (size_t)width, (size_t)height, (size_t)stride,
                                 (qlx_pixel_format)format, indexed ? call->palette.buf : NULL,
                                 indexed ? (size_t)call->palette.len / 4 : 0, call->stored.buf};
    call->picture = picture;
    call->fit = (qlx_fit)fit;
    call->box_width = (size_t)box_width;
    call->box_height = (size_t)box_height;
    return 1;
}

static PyObject *convert_into(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer out = {0}, memory = {0};
    PyObject *memory_object;
    picture_call call;
    PyObject *rest = PyTuple_GetSlice(args, 10, 12);
    const int parsed = rest != NULL && PyArg_ParseTuple(rest, "w*O", &out, &memory_object) &&
                       optional_buffer(memory_object, 1, &memory);
    Py_XDECREF(rest);
    if (!parsed || !read_call(args, 12, &call)) {
        if (out.obj != NULL) PyBuffer_Release(&out);
        if (memory.obj != NULL) PyBuffer_Release(&memory);
        return NULL;
    }
    qlx_status status = call.status;
    if (status == QLX_OK) {
        Py_BEGIN_ALLOW_THREADS
        status = qlx_convert_frame(&call.picture, &call.options, call.fit, call.box_width, call.box_height,
                                   memory.buf, (size_t)memory.len, out.buf, (size_t)out.len);
        Py_END_ALLOW_THREADS
    }
    release_call(&call);
    PyBuffer_Release(&out);
    if (memory.obj != NULL) PyBuffer_Release(&memory);
    if (status != QLX_OK) return raise_status(status);
    Py_RETURN_NONE;
}

PyDoc_STRVAR(closeness_of_doc,
             "closeness_of(pixels, width, height, stride, format, palette, stored, fit, box_width, box_height, "
             "indices, dither, strength, transparent_index, threads, light, alpha, background, stable) -> "
             "(blurred_error, ciede2000, exact_share, measured)\n\n"
             "qlx_closeness_of, with convert_into's picture and options; the GIL released.");

static PyObject *closeness_of(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer indices = {0};
    picture_call call;
    PyObject *rest = PyTuple_GetSlice(args, 10, 11);
    const int parsed = rest != NULL && PyArg_ParseTuple(rest, "y*", &indices);
    Py_XDECREF(rest);
    if (!parsed || !read_call(args, 11, &call)) {
        if (indices.obj != NULL) PyBuffer_Release(&indices);
        return NULL;
    }
    qlx_closeness closeness = {0};
    qlx_status status = call.status;
    if (status == QLX_OK) {
        Py_BEGIN_ALLOW_THREADS
        status = qlx_closeness_of(&call.picture, &call.options, call.fit, call.box_width, call.box_height,
                                  indices.buf, (size_t)indices.len, &closeness);
        Py_END_ALLOW_THREADS
    }
    release_call(&call);
    PyBuffer_Release(&indices);
    if (status != QLX_OK) return raise_status(status);
    return Py_BuildValue("dddn", closeness.blurred_error, closeness.ciede2000, closeness.exact_share,
                         (Py_ssize_t)closeness.measured);
}

PyDoc_STRVAR(gif_start_doc, "gif_start(width, height, loop) -> bytes\n\nqlx_gif_start.");

static PyObject *gif_start(PyObject *self, PyObject *args) {
    (void)self;
    Py_ssize_t width, height;
    int loop;
    if (!PyArg_ParseTuple(args, "nni", &width, &height, &loop)) return NULL;
    if (width < 0 || height < 0) return raise_status(QLX_SIDE_OUT_OF_RANGE);
    uint8_t start[QLX_GIF_START_SIZE];
    size_t written = 0;
    const qlx_status status = qlx_gif_start((size_t)width, (size_t)height, loop, start, sizeof start, &written);
    if (status != QLX_OK) return raise_status(status);
    return PyBytes_FromStringAndSize((const char *)start, (Py_ssize_t)written);
}

PyDoc_STRVAR(gif_frame_doc,
             "gif_frame(indices, previous, width, height, delay, transparent_index) -> bytes\n\nqlx_gif_frame; "
             "`previous` None for the first frame; the GIL released.");

static PyObject *gif_frame(PyObject *self, PyObject *args) {
    (void)self;
    Py_buffer indices, previous = {0};
    PyObject *previous_object;
    Py_ssize_t width, height;
    int delay, transparent_index;
    if (!PyArg_ParseTuple(args, "y*Onnii", &indices, &previous_object, &width, &height, &delay, &transparent_index)) {
        return NULL;
    }
    PyObject *frame = NULL;
    qlx_status status = QLX_SIDE_OUT_OF_RANGE;
    const size_t bound = width > 0 && height > 0 ? qlx_gif_frame_bound((size_t)width, (size_t)height) : 0;
    if (!optional_buffer(previous_object, 0, &previous)) {
        PyBuffer_Release(&indices);
        return NULL;
    }
    const size_t pixels = (size_t)(width > 0 ? width : 0) * (size_t)(height > 0 ? height : 0);
    if (bound != 0 && ((size_t)indices.len < pixels || (previous.obj != NULL && (size_t)previous.len < pixels))) {
        status = QLX_INPUT_TOO_SHORT;
    } else if (bound != 0) {
        frame = PyBytes_FromStringAndSize(NULL, (Py_ssize_t)bound);
        size_t written = 0;
        if (frame != NULL) {
            Py_BEGIN_ALLOW_THREADS
            status = qlx_gif_frame(indices.buf, previous.buf, (size_t)width, (size_t)height, delay,
                                   transparent_index, (uint8_t *)PyBytes_AS_STRING(frame), bound, &written);
            Py_END_ALLOW_THREADS
            if (status == QLX_OK && _PyBytes_Resize(&frame, (Py_ssize_t)written) != 0) frame = NULL;
        }
    }
    PyBuffer_Release(&indices);
    if (previous.obj != NULL) PyBuffer_Release(&previous);
    if (bound != 0 && frame == NULL && status == QLX_OK) return NULL;
    if (status != QLX_OK) {
        Py_XDECREF(frame);
        return raise_status(status);
    }
    return frame;
}

/* A GIF being read: the library's reader and the bytes it reads, held
   until the capsule goes. */
typedef struct {
    qlx_gif_reader *reader;
    Py_buffer data;
} gif_reading;

static void gif_reading_free(PyObject *capsule) {
    gif_reading *reading = PyCapsule_GetPointer(capsule, "qlx.gif_reading");
    if (reading == NULL) return;
    qlx_gif_reader_destroy(reading->reader);
    PyBuffer_Release(&reading->data);
    PyMem_Free(reading);
}

PyDoc_STRVAR(gif_open_doc,
             "gif_open(data) -> (reader, width, height, frame_count, loop)\n\nqlx_gif_reader_create: the structure "
             "checked, the frames counted.");

static PyObject *gif_open(PyObject *self, PyObject *data) {
    (void)self;
    gif_reading *reading = PyMem_Calloc(1, sizeof *reading);
    if (reading == NULL) return PyErr_NoMemory();
    if (PyObject_GetBuffer(data, &reading->data, PyBUF_SIMPLE) != 0) {
        PyMem_Free(reading);
        return NULL;
    }
    const qlx_status status = qlx_gif_reader_create(reading->data.buf, (size_t)reading->data.len, &reading->reader);
    if (status != QLX_OK) {
        PyBuffer_Release(&reading->data);
        PyMem_Free(reading);
        return raise_status(status);
    }
    PyObject *capsule = PyCapsule_New(reading, "qlx.gif_reading", gif_reading_free);
    if (capsule == NULL) {
        qlx_gif_reader_destroy(reading->reader);
        PyBuffer_Release(&reading->data);
        PyMem_Free(reading);
        return NULL;
    }
    const qlx_gif_info info = qlx_gif_reader_info(reading->reader);
    return Py_BuildValue("Nnnni", capsule, (Py_ssize_t)info.width, (Py_ssize_t)info.height,
                         (Py_ssize_t)info.frame_count, info.loop);
}

PyDoc_STRVAR(gif_next_doc,
             "gif_next(reader) -> (pixels, stored, delay) or None\n\nqlx_gif_read_frame: the canvas copied out, "
             "indices into our palette with their stored mask, or RGBA with stored None; None after the last "
             "frame.");

static PyObject *gif_next(PyObject *self, PyObject *capsule) {
    (void)self;
    gif_reading *reading = PyCapsule_GetPointer(capsule, "qlx.gif_reading");
    if (reading == NULL) return NULL;
    qlx_gif_frame_view view;
    qlx_status status;
    Py_BEGIN_ALLOW_THREADS
    status = qlx_gif_read_frame(reading->reader, &view);
    Py_END_ALLOW_THREADS
    if (status == QLX_NO_MORE_FRAMES) Py_RETURN_NONE;
    if (status != QLX_OK) return raise_status(status);
    const qlx_picture *picture = &view.picture;
    const size_t count = picture->width * picture->height;
    if (picture->palette == NULL) {
        return Py_BuildValue("y#Oi", (const char *)picture->pixels, (Py_ssize_t)(4 * count), Py_None, view.delay);
    }
    return Py_BuildValue("y#y#i", (const char *)picture->pixels, (Py_ssize_t)count, (const char *)picture->stored,
                         (Py_ssize_t)count, view.delay);
}

PyDoc_STRVAR(size_from_name_doc, "size_from_name(name) -> (width, height) or None\n\nqlx_size_from_name.");

static PyObject *size_from_name(PyObject *self, PyObject *name) {
    (void)self;
    const char *text = PyUnicode_AsUTF8(name);
    if (text == NULL) return NULL;
    size_t width = 0, height = 0;
    if (qlx_size_from_name(text, &width, &height) != QLX_OK) Py_RETURN_NONE;
    return Py_BuildValue("nn", (Py_ssize_t)width, (Py_ssize_t)height);
}

PyDoc_STRVAR(name_with_size_doc, "name_with_size(stem, width, height) -> str\n\nqlx_name_with_size.");

static PyObject *name_with_size(PyObject *self, PyObject *args) {
    (void)self;
    const char *stem;
    Py_ssize_t width, height;
    if (!PyArg_ParseTuple(args, "snn", &stem, &width, &height)) return NULL;
    if (width < 0 || height < 0) return raise_status(QLX_SIDE_OUT_OF_RANGE);
    const size_t capacity = strlen(stem) + 32;
    char *name = PyMem_Malloc(capacity);
    if (name == NULL) return PyErr_NoMemory();
    qlx_status status = qlx_name_with_size(stem, (size_t)width, (size_t)height, name, capacity);
    PyObject *result = status == QLX_OK ? PyUnicode_FromString(name) : raise_status(status);
    PyMem_Free(name);
    return result;
}

/* The names a naming function gives, from value 0 until it has none. */
static PyObject *names_of(const char *(*name_of)(int)) {
    PyObject *names = PyList_New(0);
    for (int value = 0; names != NULL && name_of(value) != NULL; ++value) {
        PyObject *name = PyUnicode_FromString(name_of(value));
        if (name == NULL || PyList_Append(names, name) != 0) Py_CLEAR(names);
        Py_XDECREF(name);
    }
    return names;
}
static const char *dither_name(int value) { return qlx_dither_name((qlx_dither)value); }
static const char *light_name(int value) { return qlx_light_name((qlx_light)value); }
static const char *fit_name(int value) { return qlx_fit_name((qlx_fit)value); }

PyDoc_STRVAR(vocabulary_doc, "vocabulary() -> (methods, lights, fits)\n\nThe library's names, each in its order.");

static PyObject *vocabulary(PyObject *self, PyObject *unused) {
    (void)self;
    (void)unused;
    PyObject *methods = names_of(dither_name), *lights = names_of(light_name), *fits = names_of(fit_name);
    PyObject *result = methods && lights && fits ? PyTuple_Pack(3, methods, lights, fits) : NULL;
    Py_XDECREF(methods);
    Py_XDECREF(lights);
    Py_XDECREF(fits);
    return result;
}

PyDoc_STRVAR(status_names_doc, "status_names() -> [(code, name), ...]\n\nEvery status the library names.");

static PyObject *status_names(PyObject *self, PyObject *unused) {
    (void)self;
    (void)unused;
    PyObject *names = PyList_New(0);
    for (int code = 0; names != NULL && code < QLX_STATUS_CODE_LIMIT; ++code) {
        const char *name = qlx_status_name((qlx_status)code);
        if (name == NULL) continue;
        PyObject *entry = Py_BuildValue("(is)", code, name);
        if (entry == NULL || PyList_Append(names, entry) != 0) Py_CLEAR(names);
        Py_XDECREF(entry);
    }
    return names;
}

PyDoc_STRVAR(use_status_type_doc, "use_status_type(cls)\n\nqlx.Error.status becomes cls(code).");

static PyObject *use_status_type(PyObject *self, PyObject *type) {
    (void)self;
    Py_XSETREF(status_type, Py_NewRef(type));
    Py_RETURN_NONE;
}

PyDoc_STRVAR(palette_doc, "palette() -> bytes\n\nThe 256 entries as red, green, blue.");

static PyObject *palette(PyObject *self, PyObject *unused) {
    (void)self;
    (void)unused;
    uint8_t entries[768];
    for (int i = 0; i < 256; ++i) {
        const uint32_t colour = qlx_palette_colour((uint8_t)i);
        entries[3 * i] = (uint8_t)(colour >> 16);
        entries[3 * i + 1] = (uint8_t)(colour >> 8);
        entries[3 * i + 2] = (uint8_t)colour;
    }
    return PyBytes_FromStringAndSize((const char *)entries, sizeof entries);
}

PyDoc_STRVAR(nearest_index_doc, "nearest_index(red, green, blue) -> int\n\nqlx_nearest_index.");

static PyObject *nearest_index(PyObject *self, PyObject *args) {
    (void)self;
    int red, green, blue;
    if (!PyArg_ParseTuple(args, "iii", &red, &green, &blue)) return NULL;
    if (red < 0 || red > 255 || green < 0 || green > 255 || blue < 0 || blue > 255) {
        PyErr_SetString(PyExc_ValueError, "red, green and blue are each 0 to 255");
        return NULL;
    }
    return PyLong_FromLong(qlx_nearest_index((uint8_t)red, (uint8_t)green, (uint8_t)blue));
}

static PyMethodDef methods[] = {
    {"expand_into", expand_into, METH_VARARGS, expand_into_doc},
    {"bmp_dimensions", bmp_dimensions, METH_VARARGS, bmp_dimensions_doc},
    {"from_bmp_into", from_bmp_into, METH_VARARGS, from_bmp_into_doc},
    {"to_bmp", to_bmp, METH_VARARGS, to_bmp_doc},
    {"convert_size", convert_size, METH_VARARGS, convert_size_doc},
    {"convert_into", convert_into, METH_VARARGS, convert_into_doc},
    {"closeness_of", closeness_of, METH_VARARGS, closeness_of_doc},
    {"gif_start", gif_start, METH_VARARGS, gif_start_doc},
    {"gif_frame", gif_frame, METH_VARARGS, gif_frame_doc},
    {"gif_open", gif_open, METH_O, gif_open_doc},
    {"gif_next", gif_next, METH_O, gif_next_doc},
    {"size_from_name", size_from_name, METH_O, size_from_name_doc},
    {"name_with_size", name_with_size, METH_VARARGS, name_with_size_doc},
    {"vocabulary", vocabulary, METH_NOARGS, vocabulary_doc},
    {"status_names", status_names, METH_NOARGS, status_names_doc},
    {"use_status_type", use_status_type, METH_O, use_status_type_doc},
    {"palette", palette, METH_NOARGS, palette_doc},
    {"nearest_index", nearest_index, METH_VARARGS, nearest_index_doc},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "qlx._qlx", "libqlx's C API, for the qlx package.", -1,
                                    methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__qlx(void) {
    PyObject *m = PyModule_Create(&module);
    if (m == NULL) return NULL;
    qlx_error = PyErr_NewExceptionWithDoc(
        "qlx.Error", "A refusal of the library: its text, and .status, its qlx_status code.", PyExc_ValueError, NULL);
    if (qlx_error == NULL || PyModule_AddObjectRef(m, "Error", qlx_error) != 0 ||
        PyModule_AddStringConstant(m, "version", qlx_version()) != 0 ||
        PyModule_AddIntConstant(m, "STABLE_TOLERANCE", QLX_STABLE_TOLERANCE) != 0 ||
        PyModule_AddIntConstant(m, "FRAME_MEMORY_PIXEL_BYTES", QLX_FRAME_MEMORY_PIXEL_BYTES) != 0 ||
        PyModule_AddIntConstant(m, "GIF_TRAILER", QLX_GIF_TRAILER) != 0) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
