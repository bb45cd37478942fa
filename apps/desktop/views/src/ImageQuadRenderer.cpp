#include "ImageQuadRenderer.h"

#include <QOpenGLContext>

#include <array>

namespace vexilo {
namespace {

// Positions arrive in device pixels from the top-left corner, as the painter's coordinates.
const char* const kVertexShader = R"(
attribute highp vec2 position;
attribute highp vec2 textureCoordinate;
uniform highp vec2 viewportSize;
varying highp vec2 sampleAt;
void main()
{
    sampleAt = textureCoordinate;
    gl_Position = vec4(position.x * 2.0 / viewportSize.x - 1.0, 1.0 - position.y * 2.0 / viewportSize.y, 0.0, 1.0);
}
)";

// ARGB32 images are uploaded as they lie in memory (B, G, R, A bytes) and swizzled here, so no
// format conversion runs on the CPU and GLES, which lacks BGRA uploads, works the same.
const char* const kFragmentShader = R"(
uniform sampler2D image;
uniform lowp float swapRedBlue;
varying highp vec2 sampleAt;
void main()
{
    lowp vec4 texel = texture2D(image, sampleAt);
    gl_FragColor = mix(texel, texel.bgra, swapRedBlue);
}
)";

constexpr int kVertexCount = 4;
constexpr int kFloatsPerVertex = 4;

bool isBgraInMemory(QImage::Format format)
{
    return format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_ARGB32 ||
           format == QImage::Format_RGB32;
}

bool isRgbaInMemory(QImage::Format format)
{
    return format == QImage::Format_RGBA8888 || format == QImage::Format_RGBX8888 ||
           format == QImage::Format_RGBA8888_Premultiplied;
}

bool isPremultiplied(QImage::Format format)
{
    // RGB32 and RGBX8888 are opaque: premultiplied or not, they blend alike.
    return format != QImage::Format_ARGB32 && format != QImage::Format_RGBA8888;
}

}  // namespace

ImageQuadRenderer::ImageQuadRenderer() = default;

ImageQuadRenderer::~ImageQuadRenderer() = default;

bool ImageQuadRenderer::ensureProgram()
{
    if (program_ != nullptr || programFailed_) {
        return program_ != nullptr;
    }
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context == nullptr || context->functions() == nullptr) {
        return false;
    }
    gl_ = context->functions();
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) || !program->link()) {
        programFailed_ = true;
        return false;
    }
    program_ = std::move(program);
    // Without vertex array objects (plain OpenGL 2) the default vertex state carries the arrays.
    vertexArray_.create();
    vertices_.create();
    vertices_.setUsagePattern(QOpenGLBuffer::StreamDraw);
    gl_->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize_);
    return true;
}

void ImageQuadRenderer::ensureUploaded(Texture& texture, const QImage& image)
{
    if (texture.id != 0 && texture.cacheKey == image.cacheKey() && texture.size == image.size()) {
        gl_->glBindTexture(GL_TEXTURE_2D, texture.id);
        return;
    }
    if (texture.id == 0) {
        gl_->glGenTextures(1, &texture.id);
    }
    gl_->glBindTexture(GL_TEXTURE_2D, texture.id);
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (texture.size != image.size()) {
        gl_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                          nullptr);
        texture.size = image.size();
    }
    // Rows padded beyond their pixels (a wrapped decoder buffer) go up one by one: OpenGL ES 2
    // has no row length for uploads.
    const qsizetype packedRow = static_cast<qsizetype>(image.width()) * 4;
    if (image.bytesPerLine() == packedRow) {
        gl_->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width(), image.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                             image.constBits());
    } else {
        for (int row = 0; row < image.height(); ++row) {
            gl_->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, image.width(), 1, GL_RGBA, GL_UNSIGNED_BYTE,
                                 image.constScanLine(row));
        }
    }
    texture.cacheKey = image.cacheKey();
}

bool ImageQuadRenderer::draw(Slot slot, const QImage& image, const QRectF& target, bool smooth)
{
    const QImage::Format format = image.format();
    if (image.isNull() || (!isBgraInMemory(format) && !isRgbaInMemory(format)) || !ensureProgram() || image.width() > maxTextureSize_ || image.height() > maxTextureSize_) {
        return false;
    }
    gl_->glActiveTexture(GL_TEXTURE0);
    Texture& texture = textures_[static_cast<std::size_t>(slot)];
    ensureUploaded(texture, image);
    const GLint filter = smooth ? GL_LINEAR : GL_NEAREST;
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    drawQuad(target, isBgraInMemory(format), isPremultiplied(format));
    gl_->glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void ImageQuadRenderer::drawQuad(const QRectF& target, bool swapRedBlue, bool premultiplied)
{
    std::array<GLint, 4> viewport{};
    gl_->glGetIntegerv(GL_VIEWPORT, viewport.data());
    const auto left = static_cast<GLfloat>(target.left());
    const auto top = static_cast<GLfloat>(target.top());
    const auto right = static_cast<GLfloat>(target.right());
    const auto bottom = static_cast<GLfloat>(target.bottom());
    // A strip of two triangles, left-top, right-top, left-bottom, right-bottom: x, y in device
    // pixels, then s, t.
    const std::array<GLfloat, kVertexCount * kFloatsPerVertex> vertices{
        left, top, 0.0F, 0.0F, right, top, 1.0F, 0.0F, left, bottom, 0.0F, 1.0F, right, bottom, 1.0F, 1.0F};
    QOpenGLVertexArrayObject::Binder binder(&vertexArray_);
    vertices_.bind();
    vertices_.allocate(vertices.data(), static_cast<int>(sizeof(vertices)));
    program_->bind();
    constexpr int stride = kFloatsPerVertex * static_cast<int>(sizeof(GLfloat));
    program_->enableAttributeArray("position");
    program_->enableAttributeArray("textureCoordinate");
    program_->setAttributeBuffer("position", GL_FLOAT, 0, 2, stride);
    program_->setAttributeBuffer("textureCoordinate", GL_FLOAT, 2 * static_cast<int>(sizeof(GLfloat)), 2, stride);
    program_->setUniformValue("viewportSize", static_cast<GLfloat>(viewport[2]), static_cast<GLfloat>(viewport[3]));
    program_->setUniformValue("image", 0);
    program_->setUniformValue("swapRedBlue", swapRedBlue ? 1.0F : 0.0F);
    gl_->glEnable(GL_BLEND);
    gl_->glBlendFunc(premultiplied ? GL_ONE : GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl_->glDrawArrays(GL_TRIANGLE_STRIP, 0, kVertexCount);
    gl_->glDisable(GL_BLEND);
    program_->disableAttributeArray("position");
    program_->disableAttributeArray("textureCoordinate");
    program_->release();
    vertices_.release();
}

void ImageQuadRenderer::release()
{
    if (gl_ != nullptr) {
        for (Texture& texture : textures_) {
            if (texture.id != 0) {
                gl_->glDeleteTextures(1, &texture.id);
            }
            texture = {};
        }
    }
    vertices_.destroy();
    vertexArray_.destroy();
    program_.reset();
    programFailed_ = false;
    gl_ = nullptr;
}

}  // namespace vexilo
