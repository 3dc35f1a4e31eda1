; Files of XCF version 11 to 13 saved by GIMP 2.10 itself, each beside
; GIMP's own flatten of it over black (an opaque black layer in Normal mode
; under everything, then the image flattened and exported as 8-bit PNG):
; the pictures tessel must draw. Run by scripts/gimp-files.sh with OUT set.

; An alpha that falls from opaque to clear along the layer: a mask of a
; gradient, applied.
(define (alpha-ramp layer x1 y1 x2 y2)
  (let ((m (car (gimp-layer-create-mask layer ADD-MASK-WHITE))))
    (gimp-layer-add-mask layer m)
    (gradient m '(255 255 255) '(0 0 0) x1 y1 x2 y2)
    (gimp-layer-remove-mask layer MASK-APPLY)))

; A soft ellipse of a colour in layer coordinates.
(define (blob image layer colour x y w h)
  (let ((ox (car (gimp-drawable-offsets layer))) (oy (cadr (gimp-drawable-offsets layer))))
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE (+ ox x) (+ oy y) w h)
    (gimp-selection-feather image 6)
    (gimp-context-set-foreground colour)
    (gimp-drawable-edit-fill layer FILL-FOREGROUND)
    (gimp-selection-none image)))

; The base: an opaque gradient, or one whose alpha falls off downwards
; (transparent: a Scheme boolean, #t or #f; Script-Fu's TRUE and FALSE are
; numbers, both true to Scheme).
(define (base image w h transparent)
  (let ((layer (new-layer image 0 0 RGBA-IMAGE "base" w h 0 0 100 LAYER-MODE-NORMAL)))
    (gradient layer '(250 200 60) '(30 80 160) 0 0 w h)
    (if transparent (alpha-ramp layer 0 0 0 h))
    layer))

; A cell: a colourful layer whose alpha falls off to the right.
(define (cell image x y size opacity mode)
  (let ((layer (new-layer image 0 0 RGBA-IMAGE "cell" size size x y opacity mode)))
    (gradient layer '(255 40 40) '(40 255 200) 0 0 size size)
    (alpha-ramp layer (/ size 3) 0 size 0)
    layer))

(define legacy-modes
  (list LAYER-MODE-NORMAL-LEGACY LAYER-MODE-MULTIPLY-LEGACY LAYER-MODE-SCREEN-LEGACY
        LAYER-MODE-OVERLAY-LEGACY LAYER-MODE-DIFFERENCE-LEGACY LAYER-MODE-ADDITION-LEGACY
        LAYER-MODE-SUBTRACT-LEGACY LAYER-MODE-DARKEN-ONLY-LEGACY LAYER-MODE-LIGHTEN-ONLY-LEGACY
        LAYER-MODE-HSV-HUE-LEGACY LAYER-MODE-HSV-SATURATION-LEGACY LAYER-MODE-HSL-COLOR-LEGACY
        LAYER-MODE-HSV-VALUE-LEGACY LAYER-MODE-DIVIDE-LEGACY LAYER-MODE-DODGE-LEGACY
        LAYER-MODE-BURN-LEGACY LAYER-MODE-HARDLIGHT-LEGACY LAYER-MODE-SOFTLIGHT-LEGACY
        LAYER-MODE-GRAIN-EXTRACT-LEGACY LAYER-MODE-GRAIN-MERGE-LEGACY LAYER-MODE-COLOR-ERASE-LEGACY))

; Every mode of a list in a cell of its own over the base, at full and at
; partial opacity in turn (the other way round when `swapped`).
(define (mode-grid-of modes transparent swapped)
  (let* ((image (car (gimp-image-new 320 200 RGB)))
         (cell-index 0))
    (base image 320 200 transparent)
    (for-each
      (lambda (mode)
        (cell image (* 40 (modulo cell-index 8)) (* 40 (quotient cell-index 8)) 40
              (if (eq? (even? cell-index) swapped) 65 100) mode)
        (set! cell-index (+ cell-index 1)))
      modes)
    image))

(define (mode-grid modes transparent) (mode-grid-of modes transparent #f))

; Overlapping layers of one composite mode over a partly clear base.
(define (composite-file composite)
  (let* ((image (car (gimp-image-new 120 90 RGB)))
         (b (base image 120 90 #t))
         (one (cell image 10 10 60 100 LAYER-MODE-MULTIPLY))
         (two (cell image 40 20 60 80 LAYER-MODE-NORMAL))
         (three (cell image 25 35 50 100 LAYER-MODE-SCREEN)))
    (for-each (lambda (layer) (gimp-layer-set-composite-mode layer composite)) (list one two three))
    image))

; Layers blended and composited in spaces other than their modes' own.
(define (spaces)
  (let* ((image (car (gimp-image-new 160 80 RGB)))
         (b (base image 160 80 #t))
         (a (cell image 0 0 40 100 LAYER-MODE-MULTIPLY))
         (c (cell image 40 0 40 100 LAYER-MODE-SCREEN))
         (d (cell image 80 0 40 100 LAYER-MODE-NORMAL))
         (e (cell image 120 0 40 70 LAYER-MODE-LCH-COLOR))
         (f (cell image 0 40 40 100 LAYER-MODE-OVERLAY))
         (g (cell image 40 40 40 100 LAYER-MODE-HSV-HUE))
         (h (cell image 80 40 40 90 LAYER-MODE-DIFFERENCE))
         (i (cell image 120 40 40 100 LAYER-MODE-ADDITION)))
    (gimp-layer-set-blend-space a LAYER-COLOR-SPACE-RGB-PERCEPTUAL)
    (gimp-layer-set-blend-space c LAYER-COLOR-SPACE-RGB-LINEAR)
    (gimp-layer-set-composite-space d LAYER-COLOR-SPACE-RGB-PERCEPTUAL)
    (gimp-layer-set-composite-space e LAYER-COLOR-SPACE-RGB-PERCEPTUAL)
    (gimp-layer-set-blend-space f LAYER-COLOR-SPACE-RGB-LINEAR)
    (gimp-layer-set-composite-space g LAYER-COLOR-SPACE-RGB-PERCEPTUAL)
    (gimp-layer-set-blend-space h LAYER-COLOR-SPACE-RGB-LINEAR)
    (gimp-layer-set-composite-mode h LAYER-COMPOSITE-UNION)
    (gimp-layer-set-composite-mode i LAYER-COMPOSITE-UNION)
    image))

; Groups: nested, masked (version 13), pass-through with and without a
; strength reduction, and a legacy multiply layer at the bottom of a group.
(define (groups)
  (let* ((image (car (gimp-image-new 200 140 RGB)))
         (b (base image 200 140 #f))
         (outer (new-group image 0 0 "outer" 85 LAYER-MODE-NORMAL))
         (o1 (cell image 10 10 70 100 LAYER-MODE-NORMAL))
         (inner (new-group image outer 0 "inner" 100 LAYER-MODE-MULTIPLY)))
    (gimp-image-reorder-item image o1 outer 0)
    (let ((i1 (cell image 30 30 60 100 LAYER-MODE-SCREEN))
          (i2 (cell image 50 20 50 100 LAYER-MODE-MULTIPLY-LEGACY)))
      (gimp-image-reorder-item image i1 inner 0)
      (gimp-image-reorder-item image i2 inner 1))
    (let* ((masked (new-group image 0 0 "masked" 100 LAYER-MODE-NORMAL))
           (m1 (cell image 100 10 80 100 LAYER-MODE-NORMAL))
           (m2 (cell image 120 40 60 100 LAYER-MODE-OVERLAY)))
      (gimp-image-reorder-item image m1 masked 0)
      (gimp-image-reorder-item image m2 masked 0)
      (let ((m (car (gimp-layer-create-mask masked ADD-MASK-WHITE))))
        (gimp-layer-add-mask masked m)
        (gradient m '(255 255 255) '(40 40 40) 0 0 0 90)))
    (let* ((pass (new-group image 0 0 "pass" 100 LAYER-MODE-PASS-THROUGH))
           (p1 (cell image 10 80 60 100 LAYER-MODE-MULTIPLY))
           (p2 (cell image 40 90 60 100 LAYER-MODE-SCREEN)))
      (gimp-image-reorder-item image p1 pass 0)
      (gimp-image-reorder-item image p2 pass 0))
    (let* ((pass (new-group image 0 0 "pass at 60" 60 LAYER-MODE-PASS-THROUGH))
           (p1 (cell image 110 80 60 100 LAYER-MODE-DIFFERENCE))
           (p2 (cell image 140 90 50 100 LAYER-MODE-NORMAL)))
      (gimp-image-reorder-item image p1 pass 0)
      (gimp-image-reorder-item image p2 pass 0)
      (let ((m (car (gimp-layer-create-mask pass ADD-MASK-WHITE))))
        (gimp-layer-add-mask pass m)
        (gradient m '(255 255 255) '(0 0 0) 100 0 200 0)))
    (let* ((one (new-group image 0 0 "one child" 100 LAYER-MODE-PASS-THROUGH))
           (c1 (cell image 80 100 40 100 LAYER-MODE-HARDLIGHT)))
      (gimp-image-reorder-item image c1 one 0))
    image))

; Masks: applied, not applied, gray, on a layer without alpha.
(define (masks)
  (let* ((image (car (gimp-image-new 160 100 RGB)))
         (b (base image 160 100 #f))
         (one (cell image 0 0 80 100 LAYER-MODE-NORMAL))
         (two (cell image 80 0 80 100 LAYER-MODE-MULTIPLY))
         (three (new-layer image 0 0 RGB-IMAGE "opaque" 80 50 40 50 100 LAYER-MODE-NORMAL)))
    (gradient three '(0 255 0) '(0 0 255) 0 0 80 0)
    (let ((m (car (gimp-layer-create-mask one ADD-MASK-WHITE))))
      (gimp-layer-add-mask one m)
      (gradient m '(0 0 0) '(255 255 255) 0 0 0 80))
    (let ((m (car (gimp-layer-create-mask two ADD-MASK-BLACK))))
      (gimp-layer-add-mask two m)
      (gimp-layer-set-apply-mask two FALSE))
    (let ((m (car (gimp-layer-create-mask three ADD-MASK-WHITE))))
      (gimp-layer-add-mask three m)
      (gimp-context-set-foreground '(128 128 128))
      (gimp-drawable-fill m FILL-FOREGROUND))
    image))

; A small picture of modes and a mask, for each precision.
(define (precision-picture)
  (let* ((image (car (gimp-image-new 96 64 RGB)))
         (b (base image 96 64 #t))
         (one (cell image 0 0 48 100 LAYER-MODE-MULTIPLY))
         (two (cell image 48 0 48 70 LAYER-MODE-SCREEN))
         (three (cell image 20 24 56 100 LAYER-MODE-OVERLAY))
         (four (cell image 0 32 32 100 LAYER-MODE-ADDITION)))
    (let ((m (car (gimp-layer-create-mask three ADD-MASK-WHITE))))
      (gimp-layer-add-mask three m)
      (gradient m '(255 255 255) '(60 60 60) 0 0 56 56))
    image))

(define (gray)
  (let ((image (precision-picture)))
    (gimp-image-convert-grayscale image)
    image))

(define (indexed)
  (let* ((image (car (gimp-image-new 96 64 RGB)))
         (b (new-layer image 0 0 RGB-IMAGE "base" 96 64 0 0 100 LAYER-MODE-NORMAL))
         (top (new-layer image 0 0 RGBA-IMAGE "top" 60 40 20 12 100 LAYER-MODE-NORMAL))
         (multiply (new-layer image 0 0 RGBA-IMAGE "multiply" 40 40 50 20 100 LAYER-MODE-MULTIPLY)))
    (gradient b '(255 0 0) '(0 0 255) 0 0 96 0)
    (gimp-drawable-fill top FILL-TRANSPARENT)
    (blob image top '(0 255 0) 0 0 60 40)
    (gradient multiply '(255 255 0) '(0 255 255) 0 0 0 40)
    (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 24 FALSE FALSE "")
    image))

(define (with-precision precision)
  (lambda ()
    (let ((image (precision-picture)))
      (gimp-image-convert-precision image precision)
      image)))

(both (lambda () (mode-grid modern-modes #f)) "modern-modes")
(both (lambda () (mode-grid modern-modes #t)) "modern-modes-transparent")
(both (lambda () (mode-grid-of modern-modes #f #t)) "modern-modes-other-opacity")
(both (lambda () (mode-grid-of modern-modes #t #t)) "modern-modes-transparent-other-opacity")
(both (lambda () (mode-grid (cons LAYER-MODE-NORMAL legacy-modes) #f)) "legacy-modes-v11")
(both (lambda () (composite-file LAYER-COMPOSITE-UNION)) "composite-union")
(both (lambda () (composite-file LAYER-COMPOSITE-CLIP-TO-BACKDROP)) "composite-clip-to-backdrop")
(both (lambda () (composite-file LAYER-COMPOSITE-CLIP-TO-LAYER)) "composite-clip-to-layer")
(both (lambda () (composite-file LAYER-COMPOSITE-INTERSECTION)) "composite-intersection")
(both spaces "spaces")
(both groups "modern-groups")
(both masks "modern-masks")
(both gray "modern-gray")
(both indexed "modern-indexed")
(both (with-precision PRECISION-U8-LINEAR) "precision-u8-linear")
(both (with-precision PRECISION-U16-LINEAR) "precision-u16-linear")
(both (with-precision PRECISION-U16-GAMMA) "precision-u16-gamma")
(both (with-precision PRECISION-U32-LINEAR) "precision-u32-linear")
(both (with-precision PRECISION-U32-GAMMA) "precision-u32-gamma")
(both (with-precision PRECISION-HALF-LINEAR) "precision-half-linear")
(both (with-precision PRECISION-HALF-GAMMA) "precision-half-gamma")
(both (with-precision PRECISION-FLOAT-LINEAR) "precision-float-linear")
(both (with-precision PRECISION-FLOAT-GAMMA) "precision-float-gamma")
(both (with-precision PRECISION-DOUBLE-LINEAR) "precision-double-linear")
(both (with-precision PRECISION-DOUBLE-GAMMA) "precision-double-gamma")
(gimp-quit 0)
