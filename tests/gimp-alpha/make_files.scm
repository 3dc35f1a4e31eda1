; Files saved by GIMP 2.10 whose transparency matters: pictures that leave
; parts of the canvas clear, as logos, sprites and icons do. Each is saved
; beside GIMP's own pictures of it: its flatten over black (expected/NAME.png,
; as tests/gimp keeps them) and its "New from Visible" layer, transparency
; kept (expected/NAME.visible.png, made for every file by visible.scm). Run
; by scripts/gimp-files.sh with OUT set; common.scm and modes.scm of
; tests/gimp come first.

; A soft ellipse of a colour in layer coordinates.
(define (blob image layer colour x y w h feather)
  (let ((ox (car (gimp-drawable-offsets layer))) (oy (cadr (gimp-drawable-offsets layer))))
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE (+ ox x) (+ oy y) w h)
    (if (> feather 0) (gimp-selection-feather image feather))
    (gimp-context-set-foreground colour)
    (gimp-drawable-edit-fill layer FILL-FOREGROUND)
    (gimp-selection-none image)))

; A bar of a colour in layer coordinates.
(define (bar image layer colour x y w h)
  (let ((ox (car (gimp-drawable-offsets layer))) (oy (cadr (gimp-drawable-offsets layer))))
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE (+ ox x) (+ oy y) w h)
    (gimp-context-set-foreground colour)
    (gimp-drawable-edit-fill layer FILL-FOREGROUND)
    (gimp-selection-none image)))

(define (clear-layer image parent position type name w h x y opacity mode)
  (let ((layer (new-layer image parent position type name w h x y opacity mode)))
    (gimp-drawable-fill layer FILL-TRANSPARENT)
    layer))

; A logo on nothing: black lettering of bars and rings, a coloured disc
; half seen through, a soft shadow; no layer covers the canvas.
(define (logo)
  (let* ((image (car (gimp-image-new 160 80 RGB)))
         (letters (clear-layer image 0 0 RGBA-IMAGE "letters" 150 60 5 10 100 LAYER-MODE-NORMAL-LEGACY))
         (disc (clear-layer image 0 1 RGBA-IMAGE "disc" 70 70 80 5 70 LAYER-MODE-NORMAL-LEGACY))
         (shadow (clear-layer image 0 2 RGBA-IMAGE "shadow" 160 80 0 0 60 LAYER-MODE-NORMAL-LEGACY)))
    (bar image letters '(0 0 0) 0 0 10 60)
    (bar image letters '(0 0 0) 10 50 30 10)
    (blob image letters '(0 0 0) 45 10 45 45 0)
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE 62 27 21 21)
    (gimp-drawable-edit-clear letters)
    (gimp-selection-none image)
    (bar image letters '(0 0 0) 100 0 10 60)
    (bar image letters '(0 0 0) 100 0 40 10)
    (blob image disc '(230 120 20) 0 0 70 70 4)
    (blob image shadow '(20 20 60) 10 20 140 55 12)
    image))

; A sprite sheet: sprites of soft and hard edges side by side, one of them
; without alpha (covering its cell alone), one in a legacy multiply mode at
; the bottom of the stack, over nothing.
(define (sprites)
  (let* ((image (car (gimp-image-new 128 64 RGB)))
         (under (clear-layer image 0 0 RGBA-IMAGE "multiply under all" 32 32 96 32 100 LAYER-MODE-MULTIPLY-LEGACY))
         (cell 0))
    (blob image under '(40 200 90) 2 2 28 28 3)
    (for-each
      (lambda (colour)
        (let ((s (clear-layer image 0 0 RGBA-IMAGE "sprite" 32 32 (* 32 (modulo cell 4)) (* 32 (quotient cell 4))
                              (if (= cell 5) 60 100) LAYER-MODE-NORMAL-LEGACY)))
          (blob image s colour 4 4 24 24 (if (even? cell) 0 5))
          (blob image s '(255 255 255) 10 8 8 8 2)
          (set! cell (+ cell 1))))
      (list '(220 40 40) '(40 120 230) '(250 210 40) '(150 60 200) '(30 30 30) '(240 140 170)))
    (let ((solid (new-layer image 0 0 RGB-IMAGE "solid" 32 32 96 0 100 LAYER-MODE-NORMAL-LEGACY)))
      (gradient solid '(255 255 255) '(0 90 90) 0 0 32 32))
    image))

; Holes: a layer with a mask that cuts a hole in it, a group whose children
; leave its corners clear, a screen layer over nothing.
(define (holes)
  (let* ((image (car (gimp-image-new 140 100 RGB)))
         (back (new-layer image 0 0 RGB-IMAGE "back" 100 70 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (group (new-group image 0 0 "group" 90 LAYER-MODE-NORMAL-LEGACY))
         (g1 (clear-layer image group 0 RGBA-IMAGE "ring" 70 70 60 25 100 LAYER-MODE-NORMAL-LEGACY))
         (g2 (clear-layer image group 1 RGBA-IMAGE "under the ring" 60 40 70 10 100 LAYER-MODE-SCREEN-LEGACY))
         (lit (clear-layer image 0 0 RGBA-IMAGE "screen over nothing" 40 30 100 70 100 LAYER-MODE-SCREEN-LEGACY)))
    (gradient back '(250 200 60) '(30 80 160) 0 0 100 70)
    (let ((m (car (gimp-layer-create-mask back ADD-MASK-WHITE))))
      (gimp-layer-add-mask back m)
      (blob image m '(0 0 0) 20 15 50 40 6))
    (blob image g1 '(200 30 60) 0 0 70 70 0)
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE 80 45 30 30)
    (gimp-drawable-edit-clear g1)
    (gimp-selection-none image)
    (gradient g2 '(40 200 220) '(220 220 40) 0 0 60 0)
    (blob image lit '(90 90 250) 0 0 40 30 4)
    image))

; A grayscale picture with nothing under its layers.
(define (gray)
  (let* ((image (car (gimp-image-new 100 70 RGB)))
         (a (clear-layer image 0 0 RGBA-IMAGE "light" 70 50 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (b (clear-layer image 0 0 RGBA-IMAGE "dark" 60 50 40 20 75 LAYER-MODE-NORMAL-LEGACY)))
    (blob image a '(230 230 230) 0 0 70 50 5)
    (gradient b '(20 20 20) '(160 160 160) 0 0 60 0)
    (let ((m (car (gimp-layer-create-mask b ADD-MASK-WHITE))))
      (gimp-layer-add-mask b m)
      (gradient m '(255 255 255) '(0 0 0) 0 0 0 50))
    (gimp-image-convert-grayscale image)
    image))

; An indexed picture with a transparent ground, alpha all or nothing.
(define (indexed)
  (let* ((image (car (gimp-image-new 100 70 RGB)))
         (a (clear-layer image 0 0 RGBA-IMAGE "a" 60 50 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (b (clear-layer image 0 0 RGBA-IMAGE "b" 50 40 45 25 100 LAYER-MODE-NORMAL-LEGACY)))
    (blob image a '(220 40 40) 0 0 60 50 0)
    (bar image b '(40 90 230) 0 0 50 40)
    (bar image b '(250 220 40) 10 10 20 20)
    (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 8 FALSE FALSE "")
    image))

; GIMP 2.10's own modes (version 10 on): erase, split, clip to layer and
; intersection at the top level, over a ground that leaves corners clear.
(define (erasing)
  (let* ((image (car (gimp-image-new 160 100 RGB)))
         (ground (clear-layer image 0 0 RGBA-IMAGE "ground" 140 90 10 5 100 LAYER-MODE-NORMAL))
         (erase (clear-layer image 0 0 RGBA-IMAGE "erase" 50 50 20 20 100 LAYER-MODE-ERASE))
         (split (clear-layer image 0 0 RGBA-IMAGE "split" 50 40 90 10 80 LAYER-MODE-SPLIT))
         (clip (clear-layer image 0 0 RGBA-IMAGE "clip to layer" 40 40 60 55 100 LAYER-MODE-NORMAL))
         (meet (clear-layer image 0 0 RGBA-IMAGE "intersection" 50 30 100 60 100 LAYER-MODE-MULTIPLY)))
    (blob image ground '(250 200 60) 0 0 140 90 10)
    (blob image erase '(0 0 0) 0 0 50 50 8)
    (blob image split '(0 0 0) 0 0 50 40 4)
    (blob image clip '(40 90 230) 0 0 40 40 6)
    (gimp-layer-set-composite-mode clip LAYER-COMPOSITE-CLIP-TO-LAYER)
    (gradient meet '(255 40 40) '(40 255 200) 0 0 50 0)
    (gimp-layer-set-composite-mode meet LAYER-COMPOSITE-INTERSECTION)
    image))

; A group with a mask (version 13) that leaves a hole through everything.
(define (masked-group)
  (let* ((image (car (gimp-image-new 120 80 RGB)))
         (group (new-group image 0 0 "group" 100 LAYER-MODE-NORMAL))
         (a (new-layer image group 0 RGB-IMAGE "a" 120 80 0 0 100 LAYER-MODE-NORMAL))
         (b (clear-layer image group 0 RGBA-IMAGE "b" 60 60 50 10 80 LAYER-MODE-OVERLAY)))
    (gradient a '(30 80 160) '(250 200 60) 0 0 120 0)
    (blob image b '(255 255 255) 0 0 60 60 8)
    (let ((m (car (gimp-layer-create-mask group ADD-MASK-WHITE))))
      (gimp-layer-add-mask group m)
      (blob image m '(0 0 0) 30 15 50 50 10))
    image))

; LCH hue and chroma (version 9: LCH its only modern modes) on
; grays beside colours: a gray layer in hue mode keeps the colour under it,
; a colourful one over grays leaves them gray; a colourful layer in chroma
; mode over grays leaves them gray, a gray one takes the colour out. In
; groups and at the top level, at full and partial opacity, a part of the
; canvas left clear. The grays are stripes of levels that GIMP's pixel
; library turns into LAB without a trace of colour (0, 80, 128, 255;
; about half the levels are so: of the others GIMP takes a hue from the
; trace), and every layer's columns lie in fours from a column of a four,
; as GIMP converts its rows four pixels at a time (a row's last one to
; three pixels another way, which gives even white a trace of yellow).
(define (gray-stripes image layer x w)
  (let ((level 0))
    (for-each
      (lambda (gray)
        (bar image layer (list gray gray gray) (+ x (* level 4)) 0 4 (car (gimp-drawable-height layer)))
        (set! level (+ level 1)))
      '(0 80 128 255 0)))
  (if (> w 20) (gray-stripes image layer (+ x 20) (- w 20))))

(define (lch-grays)
  (let* ((image (car (gimp-image-new 160 120 RGB)))
         (stripes (new-layer image 0 0 RGB-IMAGE "gray stripes" 80 120 0 0 100 LAYER-MODE-NORMAL-LEGACY))
         (colours (new-layer image 0 0 RGB-IMAGE "colours" 80 100 80 0 100 LAYER-MODE-NORMAL-LEGACY))
         (hue-group (new-group image 0 0 "hue" 100 LAYER-MODE-NORMAL-LEGACY))
         (hue-ground (new-layer image hue-group 0 RGB-IMAGE "hue ground" 72 56 84 4 100 LAYER-MODE-NORMAL-LEGACY))
         (gray-hue (new-layer image hue-group 0 RGB-IMAGE "gray hue" 60 48 88 8 100 LAYER-MODE-LCH-HUE))
         (hue (new-layer image 0 0 RGB-IMAGE "hue over grays" 72 40 4 4 100 LAYER-MODE-LCH-HUE))
         (gray-hue60 (new-layer image 0 0 RGB-IMAGE "gray hue 60" 40 40 112 60 60 LAYER-MODE-LCH-HUE))
         (chroma-group (new-group image 0 0 "chroma" 100 LAYER-MODE-NORMAL-LEGACY))
         (chroma-ground (new-layer image chroma-group 0 RGB-IMAGE "chroma ground" 60 52 8 60 100 LAYER-MODE-NORMAL-LEGACY))
         (chroma (new-layer image chroma-group 0 RGB-IMAGE "chroma" 56 44 12 64 100 LAYER-MODE-LCH-CHROMA))
         (gray-chroma (new-layer image 0 0 RGB-IMAGE "gray chroma" 20 28 88 64 100 LAYER-MODE-LCH-CHROMA))
         (chroma60 (new-layer image 0 0 RGB-IMAGE "chroma 60" 40 28 40 88 60 LAYER-MODE-LCH-CHROMA)))
    (gray-stripes image stripes 0 80)
    (gradient colours '(255 40 40) '(40 90 255) 0 0 80 0)
    (gradient hue-ground '(40 200 120) '(220 60 200) 0 0 72 0)
    (gray-stripes image gray-hue 0 60)
    (gradient hue '(255 0 0) '(0 200 255) 0 0 0 40)
    (gray-stripes image gray-hue60 0 40)
    (gray-stripes image chroma-ground 0 60)
    (gradient chroma '(0 255 0) '(255 0 255) 0 0 56 0)
    (gray-stripes image gray-chroma 0 20)
    (gradient chroma60 '(255 120 0) '(0 120 255) 0 0 40 0)
    image))

(both logo "logo")
(both sprites "sprites")
(both holes "holes")
(both gray "gray-alpha")
(both indexed "indexed-alpha")
(both erasing "erasing")
(both masked-group "masked-group")
(both lch-grays "lch-grays")
(gimp-quit 0)
