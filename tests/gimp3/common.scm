; What the batch script of tests/gimp3 builds its pictures with, in GIMP 3's
; Script-Fu (its v3 dialect: a procedure's one value as it is, #t and #f);
; scripts/gimp3.sh runs it first.
(script-fu-use-v3)

(define (new-layer image parent position type name w h x y opacity mode)
  (let ((layer (gimp-layer-new image name w h type opacity mode)))
    (gimp-image-insert-layer image layer parent position)
    (gimp-layer-set-offsets layer x y)
    layer))

(define (new-group image parent position name opacity mode)
  (let ((group (gimp-group-layer-new image name)))
    (gimp-image-insert-layer image group parent position)
    (gimp-layer-set-opacity group opacity)
    (gimp-layer-set-mode group mode)
    group))

(define (gradient drawable from to x1 y1 x2 y2)
  (gimp-context-set-foreground from)
  (gimp-context-set-background to)
  (gimp-context-set-gradient-fg-bg-rgb)
  (gimp-drawable-edit-gradient-fill drawable GRADIENT-LINEAR 0 #f 1 0 #f x1 y1 x2 y2))

; An alpha that falls from opaque to clear along the layer.
(define (alpha-ramp layer x1 y1 x2 y2)
  (let ((m (gimp-layer-create-mask layer ADD-MASK-WHITE)))
    (gimp-layer-add-mask layer m)
    (gradient m '(255 255 255) '(0 0 0) x1 y1 x2 y2)
    (gimp-layer-remove-mask layer MASK-APPLY)))

(define (base image w h transparent)
  (let ((layer (new-layer image 0 0 RGBA-IMAGE "base" w h 0 0 100 LAYER-MODE-NORMAL)))
    (gradient layer '(250 200 60) '(30 80 160) 0 0 w h)
    (if transparent (alpha-ramp layer 0 0 0 h))
    layer))

(define (cell image x y size opacity mode)
  (let ((layer (new-layer image 0 0 RGBA-IMAGE "cell" size size x y opacity mode)))
    (gradient layer '(255 40 40) '(40 255 200) 0 0 size size)
    (alpha-ramp layer (/ size 3) 0 size 0)
    layer))

(define (save image name)
  (gimp-xcf-save 0 image (string-append OUT "/" name)))

; GIMP 3's picture: an opaque black Normal layer under everything,
; flattened, in 8-bit gamma, as PNG.
(define (expect image name)
  (let* ((path (string-append OUT "/expected/" name ".png"))
         (layers (gimp-image-get-layers image))
         (black (gimp-layer-new image "black" (gimp-image-get-width image) (gimp-image-get-height image)
                                RGB-IMAGE 100 LAYER-MODE-NORMAL)))
    (gimp-image-insert-layer image black 0 (vector-length layers))
    (gimp-context-set-foreground '(0 0 0))
    (gimp-drawable-fill black FILL-FOREGROUND)
    (gimp-context-set-background '(0 0 0))
    (gimp-image-flatten image)
    (if (not (= (gimp-image-get-precision image) PRECISION-U8-NON-LINEAR))
      (gimp-image-convert-precision image PRECISION-U8-NON-LINEAR))
    (gimp-file-save RUN-NONINTERACTIVE image path -1)))
