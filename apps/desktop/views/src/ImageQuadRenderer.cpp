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

// ARGB32 images are uploaded as they lie in memory (B, G, R, A bytes) and swizzled by a program
// of their own, so no format conversion runs on the CPU and GLES, which lacks BGRA uploads, works
// the same. A program per byte order keeps each fragment a bare texture read, which a software
// rasteriser runs far faster than one that picks the order per fragment.
const char* const kFragmentShader = R"(
uniform sampler2D image;
varying highp vec2 sampleAt;
void main()
{
    gl_FragColor = texture2D(image, sampleAt);
}
)";
const char* const kSwizzlingFragmentShader = R"(
uniform sampler2D image;
varying highp vec2 sampleAt;
void main()
{
    gl_FragColor = texture2D(image, sampleAt).bgra;
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
    if (programs_[0] != nullptr || programFailed_) {
        return programs_[0] != nullptr;
    }
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context == nullptr || context->functions() == nullptr) {
        return false;
    }
    gl_ = context->functions();
    const std::array<const char*, 2> fragmentShaders{kFragmentShader, kSwizzlingFragmentShader};
    std::array<std::unique_ptr<QOpenGLShaderProgram>, 2> programs;
    for (std::size_t index = 0; index < programs.size(); ++index) {
        programs[index] = std::make_unique<QOpenGLShaderProgram>();
        if (!programs[index]->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
            !programs[index]->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShaders[index]) ||
            !programs[index]->link()) {
            programFailed_ = true;
            return false;
        }
    }
    programs_ = std::move(programs);
    // Without vertex array objects (plain OpenGL 2) the default vertex state carries the arrays.
    vertexArray_.create();
    vertices_.create();
    vertices_.setUsagePattern(QOpenGLBuffer::StreamDraw);
    gl_->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize_);
    // OpenGL ES 2 knows mipmaps of power-of-two textures only; a picture is rarely one.
    canMipmap_ = context->isOpenGLES() ? context->format().majorVersion() >= 3
                                       : gl_->hasOpenGLFeature(QOpenGLFunctions::Framebuffers);
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
    texture.mipmapped = false;
}

// A software rasteriser reads a minified 4K texture at a stride of several texels per pixel,
// far slower than a texture of about the size shown: a smaller view samples the mipmap levels
// nearest its scale, made once per upload and only when first needed.
void ImageQuadRenderer::setFilters(Texture& texture, const QSize& imageSize, const QRectF& target, bool smooth)
{
    const bool minified = target.width() < imageSize.width() || target.height() < imageSize.height();
    GLint minFilter = smooth ? GL_LINEAR : GL_NEAREST;
    if (smooth && minified && canMipmap_) {
        if (!texture.mipmapped) {
            gl_->glGenerateMipmap(GL_TEXTURE_2D);
            texture.mipmapped = true;
        }
        minFilter = GL_LINEAR_MIPMAP_NEAREST;
    }
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, smooth ? GL_LINEAR : GL_NEAREST);
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
    setFilters(texture, image.size(), target, smooth);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    drawQuad(target, isBgraInMemory(format), slot != Slot::Picture, isPremultiplied(format));
    gl_->glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void ImageQuadRenderer::drawQuad(const QRectF& target, bool swapRedBlue, bool blended, bool premultiplied)
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
    QOpenGLShaderProgram& program = *programs_[swapRedBlue ? 1 : 0];
    program.bind();
    constexpr int stride = kFloatsPerVertex * static_cast<int>(sizeof(GLfloat));
    program.enableAttributeArray("position");
    program.enableAttributeArray("textureCoordinate");
    program.setAttributeBuffer("position", GL_FLOAT, 0, 2, stride);
    program.setAttributeBuffer("textureCoordinate", GL_FLOAT, 2 * static_cast<int>(sizeof(GLfloat)), 2, stride);
    program.setUniformValue("viewportSize", static_cast<GLfloat>(viewport[2]), static_cast<GLfloat>(viewport[3]));
    program.setUniformValue("image", 0);
    // Blending reads every covered pixel back: an opaque image needs none of it.
    if (blended) {
        gl_->glEnable(GL_BLEND);
        gl_->glBlendFunc(premultiplied ? GL_ONE : GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    gl_->glDrawArrays(GL_TRIANGLE_STRIP, 0, kVertexCount);
    gl_->glDisable(GL_BLEND);
    program.disableAttributeArray("position");
    program.disableAttributeArray("textureCoordinate");
    program.release();
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
    programs_ = {};
    programFailed_ = false;
    gl_ = nullptr;
}

}  // namespace vexilo
